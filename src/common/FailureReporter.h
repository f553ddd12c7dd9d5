#pragma once

#include "common/Failure.h"

// Where a unit reports a failure that cannot wait to travel up as a value:
// one that other steps would otherwise print their own lines after, such as
// the end of a process they go on writing to. The driver implements it, so
// that the failure reads as every other failure does and goes out where it
// happened among the run's messages.
class FailureReporter
{
public:
    virtual ~FailureReporter() = default;

    // Reports the failure now and returns it marked as reported: its caller
    // passes it up, and it is not printed a second time.
    Failure reportNow(Failure failure)
    {
        print(failure);
        failure.m_reported = true;
        return failure;
    }

protected:
    virtual void print(const Failure &failure) = 0;
};
