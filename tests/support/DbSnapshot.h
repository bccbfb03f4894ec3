#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

namespace clarow::test {

// The rows of several queries on a database file that a running program writes to, read in one
// read transaction through a short-lived connection of the test's own, so that no scan can
// commit between two of them. One list of rows per query, each row its values in column order;
// empty lists when the file cannot be read.
[[nodiscard]] QList<QList<QVariantList>> ReadTogether(const QString &file, const QStringList &queries);

} // namespace clarow::test
