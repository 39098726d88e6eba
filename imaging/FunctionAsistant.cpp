#include "imaging/FunctionAsistant.h"

// ---- Tuning constants ----
unsigned int GetGrayAlgorithm() { return 12; }
unsigned int GetFloydSteinbergGrayAlgorithm() { return 12; }
unsigned int GetInterlImageAdaptiveGrayAlgorithm() { return 12; }
unsigned int GetMinicutGrayAlgorithm() { return 12; }
unsigned int GetMonochromeConvertGrayAlgorithm() { return 6; }
unsigned int GetGrayAlgorithmMonochromeGrayscaleConvert() { return 6; }
int GetnDitherAction() { return 100; }
int GetInterlImageAdaptivePercent() { return 10; }
int GetInterlImageAdaptiveStep() { return 0; }
int GetInterlImageAdaptiveGetStep() { return 3; }
int GetMinicutWindowSize() { return 8; }
int GetMinicutnBias() { return 20; }
int GetfGlobalLocalBalance() { return 50; }
int GetGaussianBlurWindowSize() { return 2; }
int getblankSpace() { return 0; }
int getRotationMode() { return 0; }
int DoBlankEmpty(const void*, const void*, int count) { return count; }
void DoRotate() {}
