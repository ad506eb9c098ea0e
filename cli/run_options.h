// The parsed command line.
#pragma once

#include "platform/platform.h"

struct RunOptions {
  char ReferenceName[260] = {};
  char PreProcImage[260] = {};
  Flag Verbose = 1;
  Flag Begin = 0;
  Flag End = 0;
  Flag OverOlder = 0;
  Flag Remove = 0;
};

// The longest reference name: its key path below HKEY_LOCAL_MACHINE must fit
// in 259 characters.
constexpr int kMaxReferenceName = 204;
