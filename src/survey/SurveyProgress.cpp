#include "survey/SurveyProgress.h"

#include <cstdio>
#include <unistd.h>

SurveyProgress::SurveyProgress(int latest) : m_latest(latest), m_shown(isatty(fileno(stderr))) {}

SurveyProgress::~SurveyProgress()
{
    if (m_shown)
        fprintf(stderr, "\r%*s\r", 60, "");
}

void SurveyProgress::show(int revision)
{
    if (m_shown && (revision % 100 == 0 || revision == m_latest)) {
        fprintf(stderr, "\rReading revision %d of %d", revision, m_latest);
        fflush(stderr);
    }
}
