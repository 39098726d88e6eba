// Image adjustment operations and the fixed tuning constants of the imaging library.
#pragma once

#include <memory>

#include "imaging/ImageBuffer.h"

// ---- Tuning constants ----
unsigned int GetGrayAlgorithm();
unsigned int GetFloydSteinbergGrayAlgorithm();
unsigned int GetInterlImageAdaptiveGrayAlgorithm();
unsigned int GetMinicutGrayAlgorithm();
unsigned int GetMonochromeConvertGrayAlgorithm();
unsigned int GetGrayAlgorithmMonochromeGrayscaleConvert();
int GetnDitherAction();
int GetInterlImageAdaptivePercent();
int GetInterlImageAdaptiveStep();
int GetInterlImageAdaptiveGetStep();
int GetMinicutWindowSize();
int GetMinicutnBias();
int GetfGlobalLocalBalance();
int GetGaussianBlurWindowSize();
int getblankSpace();
int getRotationMode();
int DoBlankEmpty(const void* first, const void* second, int count);
void DoRotate();

// ---- Brightness/contrast and offset ----
int f_BrightContrastPS(unsigned char* image, int width, int height, unsigned int rowBytes, int brightness,
                       int contrast);
int f_XYOfffset(unsigned char* image, int width, int height, unsigned int rowBytes, int dx, int dy);

// ---- Zoom ----
// The new raster belongs to the caller; null when it could not be made.
ScratchBuffer<unsigned char> f_Zoom(const unsigned char* source, int width, int height, unsigned int rowBytes,
                                        unsigned int* outWidth, unsigned int* outHeight, unsigned int* outRowBytes,
                                        int mode, float xFactor, float yFactor);
float XzoomFactor(int fromSize, int toSize);
float YzoomFactor(int fromSize, int toSize);
int zoomFactor(int width, int height, float* outXFactor, float* outYFactor);

// ---- Rotation ----
ScratchBuffer<unsigned char> f_Rotate(const unsigned char* source, int width, int height, int sourceRowBytes,
                                          int angle, unsigned int* outWidth, unsigned int* outHeight,
                                          unsigned int* outRowBytes, int mode);

// ---- Sharpening filters ----
int f_ImageSharpen_Laplace(unsigned char* image, int width, int height, int rowBytes, int amount);
int f_SpatialGaussFiter(unsigned char* image, int width, int height, int rowBytes, int radius);
int f_ImageSharpen_USM(unsigned char* image, int width, int height, int rowBytes, int radius, int amount,
                       int threshold);
