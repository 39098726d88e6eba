// The command output module and settings getters belong to the printing core.
#pragma once

#include "core/Functions.h"
