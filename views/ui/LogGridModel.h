#pragma once

#include "views/LogGrid.h"

#include <QAbstractTableModel>

#include <memory>

namespace clarow {

// The log grid's model: reads the texts straight off the readings it was filled with, so a
// grid of 65,000 readings costs only the rows on screen.
class LogGridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit LogGridModel(QObject *parent = nullptr);
    ~LogGridModel() override;

    // Shows data for a sensor of the given kind; the model keeps its own copy.
    void fill(const LogData &data, const SensorKind &kind, bool descending, const QString &scale,
              const QString &dateFormat, const QString &timeFormat);

    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::unique_ptr<LogGridText> m_text;
    SensorKind m_kind;
    QString m_scale;
    int m_columns = 2;
};

} // namespace clarow
