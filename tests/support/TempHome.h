#pragma once
// A temporary home for one test: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME and TMPDIR
// point into a fresh folder that is removed afterwards, and the standard user defaults are
// reloaded from it. Main thread.

#include <gtest/gtest.h>
#include <QString>
#include <QTemporaryDir>

namespace rillow::test {

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString path() const { return dir_.path(); }
    QString dataHome() const;    // the application-support folder
    QString configHome() const;  // the configuration folder
    QString tmp() const;         // TMPDIR

private:
    QTemporaryDir dir_;
    QByteArray saved_[5];
    bool had_[5] = {};
};

// A gtest fixture that owns a TempHome.
class TempHomeTest : public ::testing::Test {
protected:
    TempHome home;
};

}  // namespace rillow::test
