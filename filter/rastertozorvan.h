// The filter's job loop. It returns the exit status instead of exiting, so
// tests and fuzzers can run a whole job in-process; only main() exits.
#pragma once

int rastertozorvanMain(int argc, char* argv[]);
