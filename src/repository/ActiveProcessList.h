#pragma once

class FastImportRepository;

// The repositories whose fast-import process is running, least recently used
// first. Only a limited number of processes may run at once; making room
// stops the one used longest ago, which restarts on its next write.
class ActiveProcessList
{
public:
    static constexpr int defaultCapacity = 100;

    static void touch(FastImportRepository *repository);
    static void remove(FastImportRepository *repository);

    static int capacity();
    static void setCapacity(int capacity);
    static int size();
};
