#pragma once

#include <QJsonObject>
#include <QString>

class HistorySurvey;

// The survey as text for people and as JSON for scripts.
namespace SurveyReport {

QString text(const HistorySurvey &survey);
QJsonObject json(const HistorySurvey &survey);

} // namespace SurveyReport
