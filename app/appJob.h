// PAPPL's raster callbacks. PAPPL hands a page row by row (PNG and JPEG
// rendered by PAPPL, PWG and Apple raster as sent); the app keeps the page
// and prints it through the printing core when it is complete.
#pragma once

#include <pappl/pappl.h>

bool appStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool appStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool appWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned y,
                  const unsigned char* line);
bool appEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool appEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
