// What the paper choices add to the bytes of a print: the paper type stored
// in the printer, the feed before printing and the cuts. Each is chosen in
// the job's settings; at its default (0) it adds nothing.
#pragma once

#include <vector>

#include "core/outputBuffer.h"
#include "settings/printSettings.h"

// When the paper is cut (PaperCutMode): after each copy of a colour page and
// after each 1-bit page (1 partial, 2 full), or once when the job has ended
// (3 partial, 4 full). Any other value cuts nothing.
enum class CutWhen { Never, EachCopy, JobEnd };
CutWhen cutWhen(const settingsThermalSensitivityPara& s);

// The set-up of one copy of a colour page: initialise, the paper mode of the
// chosen paper type (MediaTypeSet 1), density, justification, then the feed
// before printing (Openingfeed above 0).
std::vector<unsigned char> copySetUp(const settingsThermalSensitivityPara& s);

// The cut that ends a copy or a 1-bit page (GS V), when the cut is per copy.
void copyCut(OutputBuffer& out, const settingsThermalSensitivityPara& s);
// The cut that ends the job (GS V), when the cut is once per job.
void jobEndCut(OutputBuffer& out, const settingsThermalSensitivityPara& s);

inline constexpr int cutBytes = 4;
