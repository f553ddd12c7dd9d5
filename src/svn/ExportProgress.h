#pragma once

// Where the exporter shows how it gets on: a mark for every matched path it
// exports and for every file it writes while it copies a directory.
class ExportProgress
{
public:
    virtual ~ExportProgress() = default;
    virtual void pathExported() = 0;
    virtual void fileWritten() = 0;
};

// The converter's progress marks on standard output: "." and "+".
class StandardOutputProgress : public ExportProgress
{
public:
    void pathExported() override;
    void fileWritten() override;
};
