#include "views/ui/LogGridModel.h"

#include <QFont>

namespace clarow {

LogGridModel::LogGridModel(QObject *parent) : QAbstractTableModel(parent) {}

LogGridModel::~LogGridModel() = default;

void LogGridModel::fill(const LogData &data, const SensorKind &kind, bool descending,
                        const QString &scale, const QString &dateFormat, const QString &timeFormat)
{
    beginResetModel();
    m_text = std::make_unique<LogGridText>(data, kind, descending, dateFormat, timeFormat);
    m_kind = kind;
    m_scale = scale;
    m_columns = static_cast<int>(GridLayoutFor(kind).columnTwips.size());
    endResetModel();
}

int LogGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_text ? 0 : m_text->rows();
}

int LogGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant LogGridModel::data(const QModelIndex &index, int role) const
{
    if (!m_text || !index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return m_text->cell(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignCenter);
    return {};
}

QVariant LogGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (role) {
    case Qt::DisplayRole: return LogGridHeading(section, m_kind, m_scale);
    case Qt::TextAlignmentRole: return QVariant::fromValue(Qt::AlignCenter);
    case Qt::FontRole: {
        QFont f;
        f.setBold(true);
        return f;
    }
    default: return {};
    }
}

} // namespace clarow
