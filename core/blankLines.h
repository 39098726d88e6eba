// Blank-line detection for paper saving: a raster line is blank when every
// byte is white (FF).
#pragma once

// 0 for a blank line, 1 for a line with content, -1 for no line (null or empty).
int isNullDataLine(const unsigned char* line, int length);

// The blank rows above (mode 1 or 3) and below (mode 2 or 3) the content of a
// page whose rows are classified in `flags`: *startLine is the first row with
// content when the top is blank, *endLine the count of blank rows at the
// bottom; each is left as it was when there is nothing to trim.
void DataNullLine(const unsigned char* flags, int height, int* startLine, int* endLine, int mode);
