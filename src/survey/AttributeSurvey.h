#pragma once

#include "common/Failure.h"
#include "svn/ChangedPathsReader.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QSet>

class QTextStream;

// The file properties that decide line ends and binary handling in a
// checkout: what --svn-attributes would carry into .gitattributes
// (svn:eol-style, binary svn:mime-type) and what nothing carries
// (svn:keywords, svn:needs-lock). Files count once per path that carried
// the property when it was added or its properties changed; files that
// only came along in a directory copy are not counted again.
class AttributeSurvey
{
public:
    Status readRevision(ChangedPathsReader &reader, const ChangedPathsReader::Revision &revision);

    // Lines for the report; none when no file carried any of the properties.
    void writeText(QTextStream &out) const;
    QJsonObject json() const;

private:
    Status readFile(svn_fs_root_t *root, const QByteArray &path, apr_pool_t *pool);

    // svn:eol-style value -> the paths of the files that carried it.
    QMap<QByteArray, QSet<QByteArray>> m_eolStyles;
    QSet<QByteArray> m_binary;
    QSet<QByteArray> m_keywords;
    QSet<QByteArray> m_needsLock;
};
