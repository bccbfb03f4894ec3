#pragma once

#include <QString>
#include <QTemporaryDir>

namespace clarow::test {

// A fresh program folder for one test: $CLAROW_HOME points at a temporary folder that
// holds a copy of the empty clarowdata.mdb (unless asked not to), the settings store is
// emptied and the program-wide values are reset. Everything is undone when it goes.
class TestHome
{
public:
    explicit TestHome(bool withDatabase = true);
    ~TestHome();
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    [[nodiscard]] QString path() const { return m_dir.path(); }
    [[nodiscard]] QString file(const QString &name) const;
    [[nodiscard]] QString databasePath() const { return file(QStringLiteral("clarowdata.mdb")); }
    // Reads a whole file of the folder as text ("" when missing).
    [[nodiscard]] QString readFile(const QString &name) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
};

// Empties the settings store of the program (Quillmark / ClarowMon).
void ClearSettingsStore();
// The settings file in use ($XDG_CONFIG_HOME/Quillmark/Quillmark.conf).
[[nodiscard]] QString SettingsFilePath();

} // namespace clarow::test
