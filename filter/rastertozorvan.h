// The filter's job loop. It returns the exit status instead of exiting, so
// tests and fuzzers can run a whole job in-process; only main() exits. The
// printer is the CUPS filter's (standard output, the back channel, the log
// on standard error) unless another is given.
#pragma once

class PrinterDevice;

int rastertozorvanMain(int argc, char* argv[]);
int rastertozorvanMain(int argc, char* argv[], PrinterDevice& printer);
