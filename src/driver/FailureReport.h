#pragma once

#include "common/Failure.h"

// Reports a failure that came up to the driver: a critical one through the
// logger's critical level, after which the caller ends the run with its exit
// code; a fatal one through the logger's fatal level, which ends the process
// at once and does not return.
void reportFailure(const Failure &failure);
