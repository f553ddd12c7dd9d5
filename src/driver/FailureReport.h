#pragma once

#include "common/Failure.h"
#include "common/FailureReporter.h"

// Reports a failure that came up to the driver through the logger's critical
// level, after which the caller ends the run with exit code 1. Its cause, when
// it has one, goes out first as it is. A failure whose cause was printed where
// it happened is not printed again.
void reportFailure(const Failure &failure);

// The reporter the driver hands the repositories for failures that go out
// where they happen: printed as reportFailure prints them.
class StandardErrorReporter : public FailureReporter
{
protected:
    void print(const Failure &failure) override { reportFailure(failure); }
};
