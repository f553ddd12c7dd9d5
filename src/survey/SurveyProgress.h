#pragma once

// "Reading revision N of LATEST" on standard error while a survey reads a
// history, every hundred revisions and at the last; nothing when standard
// error is no terminal. The line is wiped when the survey ends.
class SurveyProgress
{
public:
    explicit SurveyProgress(int latest);
    ~SurveyProgress();

    SurveyProgress(const SurveyProgress &) = delete;
    SurveyProgress &operator=(const SurveyProgress &) = delete;

    void show(int revision);

private:
    int m_latest;
    bool m_shown;
};
