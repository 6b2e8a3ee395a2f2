#pragma once

#include <cstdio>

// Prepares the standard streams for native messaging: both in binary mode, so that length prefixes and
// JSON bytes pass unchanged, and the messages written to a private copy of standard output while
// standard output itself goes to standard error, so that a stray print can never break a frame.
// Returns the stream for messages, or null when that failed.
std::FILE* prepareMessageStreams();
