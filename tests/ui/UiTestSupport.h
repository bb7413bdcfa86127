#pragma once
// What the wizard's tests share: a registry of test classes, a prepared machine (block-device
// folder, device nodes and mount table around the fixture disks), a record of the message
// boxes, and rendering a page to PNG.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

#include "device/DriveEnumeration.h"

class QWidget;

namespace corvello::uitest {

std::vector<std::function<QObject*()>>& registry();

#define CORVELLO_UI_TEST(Class)                                      \
    static const bool Class##Registered = [] {                       \
        ::corvello::uitest::registry().push_back([] { return static_cast<QObject*>(new Class); }); \
        return true;                                                 \
    }()

QString fixture(const QString& name);

// A machine with one disk ("ACME Corvello Test Disk", the mbr-disk fixture) and one mounted
// volume (a FAT32 volume mounted at <root>/media/STICK).
struct FakeMachine {
    FakeMachine();
    QTemporaryDir dir;
    SystemRoots roots;
    QString mountPoint;
};

// Records the message boxes and answers questions with `answer`.
struct MessageLog {
    MessageLog();
    ~MessageLog();
    QStringList notices;
    QStringList questions;
    bool answer = true;
};

// Renders widget to <screenshot dir>/<name>.png; returns the path.
QString renderToPng(QWidget* widget, const QString& name);

}  // namespace corvello::uitest
