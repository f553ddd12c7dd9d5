#pragma once

#include "common/Failure.h"

// Reports a failure that came up to the driver through the logger's critical
// level, after which the caller ends the run with exit code 1. Its cause, when
// it has one, goes out first as it is. A failure whose cause was printed where
// it happened is not printed again.
void reportFailure(const Failure &failure);
