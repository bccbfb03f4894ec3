#include "options/ui/LoggingTab.h"

#include "core/Helpers.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "core/ui/Fields.h"
#include "options/ui/ColourBox.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace clarow {

LoggingTab::LoggingTab(QWidget *parent) : OptionsTab(parent)
{
    setObjectName(QStringLiteral("LoggingTab"));
    const QString intervalCaptions[2] = {QStringLiteral("Logging interval, minutes"),
                                         QStringLiteral("Logging interval, seconds")};
    for (int i = 0; i < 2; ++i) {
        DefaultIntBx[i] = NewEdit(this, "DefaultIntBx", intervalCaptions[i]);
        DefaultIntBx[i]->setProperty("index", i);
    }
    bind(DefaultIntBx[0], &OptionsForm::Minutes);
    bind(DefaultIntBx[1], &OptionsForm::Seconds);
    auto *interval = new QHBoxLayout;
    AddNumberBox(interval, DefaultIntBx[0], QStringLiteral("minutes"));
    AddNumberBox(interval, DefaultIntBx[1], QStringLiteral("seconds"));
    interval->addStretch();

    KeepDaysBx = bind(NewEdit(this, "KeepDaysBx", QStringLiteral("Length of time to store data, days")),
                      &OptionsForm::KeepDaysBx);
    KeepHrsBx = bind(NewEdit(this, "KeepHrsBx", QStringLiteral("Length of time to store data, hours")),
                     &OptionsForm::KeepHrsBx);
    KeepAllChk = bind(NewCheck(this, "KeepAllChk", QStringLiteral("Keep all data")), &OptionsForm::KeepAllChk);
    auto *keep = new QHBoxLayout;
    AddNumberBox(keep, KeepDaysBx, QStringLiteral("days"));
    AddNumberBox(keep, KeepHrsBx, QStringLiteral("hours"));
    keep->addWidget(KeepAllChk);
    keep->addStretch();

    HistDaysBx = bind(NewEdit(this, "HistDaysBx", QStringLiteral("Log history to display, days")),
                      &OptionsForm::HistDaysBx);
    HistHrsBx = bind(NewEdit(this, "HistHrsBx", QStringLiteral("Log history to display, hours")),
                     &OptionsForm::HistHrsBx);
    auto *hist = new QHBoxLayout;
    AddNumberBox(hist, HistDaysBx, QStringLiteral("days"));
    AddNumberBox(hist, HistHrsBx, QStringLiteral("hours"));
    hist->addStretch();

    auto *form = new QFormLayout;
    AddField(form, QStringLiteral("Logging interval"), DefaultIntBx[0], interval);
    AddField(form, QStringLiteral("Length of time to store data"), KeepDaysBx, keep);
    AddField(form, QStringLiteral("Log history to display"), HistDaysBx, hist);

    // Grid colours, then the graph's: one row per curve, plot and limit lines across.
    const QString names[8] = {
        QStringLiteral("Grid colors, Normal"),
        QStringLiteral("Grid colors, Alarm"),
        QStringLiteral("Graph colors, Temperature, Plot"),
        QStringLiteral("Graph colors, Temperature, Low limit"),
        QStringLiteral("Graph colors, Temperature, High limit"),
        QStringLiteral("Graph colors, Humidity, light, Plot"),
        QStringLiteral("Graph colors, Humidity, light, Low limit"),
        QStringLiteral("Graph colors, Humidity, light, High limit"),
    };
    for (int i = 0; i < 8; ++i) {
        ColBx[i] = new ColourBox(i, names[i], this);
        ColBx[i]->setOnActivate([this, i] { ColBx_DblClick(i); });
    }
    auto [grid, gl] = NewGroup<QGridLayout>(this, QStringLiteral("Grid colors"));
    gl->addWidget(new QLabel(QStringLiteral("Normal"), grid), 0, 0);
    gl->addWidget(ColBx[0], 0, 1);
    gl->addWidget(new QLabel(QStringLiteral("Alarm"), grid), 1, 0);
    gl->addWidget(ColBx[1], 1, 1);
    auto [graph, rl] = NewGroup<QGridLayout>(this, QStringLiteral("Graph colors"));
    rl->addWidget(new QLabel(QStringLiteral("Plot"), graph), 0, 1);
    rl->addWidget(new QLabel(QStringLiteral("Low limit"), graph), 0, 2);
    rl->addWidget(new QLabel(QStringLiteral("High limit"), graph), 0, 3);
    rl->addWidget(new QLabel(QStringLiteral("Temperature"), graph), 1, 0);
    rl->addWidget(new QLabel(QStringLiteral("Humidity, light"), graph), 2, 0);
    for (int i = 0; i < 6; ++i)
        rl->addWidget(ColBx[2 + i], 1 + i / 3, 1 + i % 3);
    auto *colours = new QHBoxLayout;
    colours->addWidget(grid);
    colours->addWidget(graph);
    ResetColBtn = NewButton(this, "ResetColBtn", QStringLiteral("Set colors to default"));
    connect(ResetColBtn, &QPushButton::clicked, this, &LoggingTab::ResetColBtn_Click);
    QHBoxLayout *colourHint =
        ButtonRow({ResetColBtn}, {new QLabel(QStringLiteral("Double-click color boxes to change colors"), this)});

    auto [debug, dl] = NewGroup<QVBoxLayout>(this, QStringLiteral("Debug options"));
    const QString debugCaptions[2] = {QStringLiteral("Store error details"), QStringLiteral("Store successful reads")};
    for (int i = 0; i < 2; ++i) {
        chkDebug[i] = NewCheck(debug, "chkDebug", debugCaptions[i]);
        chkDebug[i]->setProperty("index", i);
        dl->addWidget(chkDebug[i]);
    }
    bind(chkDebug[0], &OptionsForm::LogErrors);
    bind(chkDebug[1], &OptionsForm::LogComms);
    dl->addWidget(new QLabel(QStringLiteral("Debug data is saved as files named [date].log"), debug));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(colours);
    layout->addLayout(colourHint);
    layout->addWidget(debug);
    layout->addStretch();
}

void LoggingTab::load(const OptionsForm &f)
{
    OptionsTab::load(f);
    KeepDaysBx->setEnabled(f.KeepBoxesEnabled);
    KeepHrsBx->setEnabled(f.KeepBoxesEnabled);
    for (int i = 0; i < 8; ++i)
        ColBx[i]->setColour(f.ColBx[i]);
}

void LoggingTab::store(OptionsForm &f) const
{
    OptionsTab::store(f);
    f.KeepBoxesEnabled = KeepDaysBx->isEnabled();
    for (int i = 0; i < 8; ++i)
        f.ColBx[i] = ColBx[i]->colour();
}

void LoggingTab::ResetColBtn_Click()
{
    // Only the colour boxes: edits waiting on the other tabs stay as typed.
    SetDefaultColours(program().settings);
    const std::array<qint32, 8> colours = DefaultColours();
    for (int i = 0; i < 8; ++i)
        ColBx[i]->setColour(colours[i]);
    Q_EMIT changed();
    Q_EMIT coloursReset();
}

void LoggingTab::ColBx_DblClick(int index)
{
    ColourBox *box = ColBx.at(index);
    auto *dialog = new QColorDialog(QColor::fromRgb(StoredColourToRgb(box->colour())), this);
    dialog->setObjectName(QStringLiteral("ColourDialog"));
    dialog->setWindowTitle(QStringLiteral("Select colour"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<ColourBox> target(box);
    connect(dialog, &QColorDialog::colorSelected, this, [this, target](const QColor &c) {
        if (!target)
            return;
        target->setColour(RgbToStoredColour(c.rgb()));
        Q_EMIT changed();
    });
    dialog->open();
}

} // namespace clarow
