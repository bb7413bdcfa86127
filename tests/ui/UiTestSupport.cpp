#include "UiTestSupport.h"

#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QWidget>
#include <fstream>
#include <vector>

#include "ui/MessageBoxes.h"

namespace corvello::uitest {

std::vector<std::function<QObject*()>>& registry() {
    static std::vector<std::function<QObject*()>> r;
    return r;
}

QString fixture(const QString& name) { return QStringLiteral(CORVELLO_FIXTURE_DIR "/") + name; }

namespace {
void writeText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(text);
}
}  // namespace

FakeMachine::FakeMachine() {
    const QString root = dir.path();
    roots.sysBlock = (root + "/sys/block").toStdString();
    roots.devices = (root + "/dev").toStdString();
    roots.mountInfo = (root + "/proc/mountinfo").toStdString();
    QDir().mkpath(root + "/dev");

    const QString disk = fixture(QStringLiteral("mbr-disk.img"));
    const qint64 sectors = QFileInfo(disk).size() / 512;
    writeText(root + "/sys/block/sdb/size", QByteArray::number(sectors) + "\n");
    writeText(root + "/sys/block/sdb/device/model", "Corvello Test Disk\n");
    writeText(root + "/sys/block/sdb/device/vendor", "ACME\n");
    QFile::link(disk, root + "/dev/sdb");

    // The sample disk's FAT32 volume starts at sector 2048: its first sectors stand for the
    // mounted stick's device.
    QFile sample(fixture(QStringLiteral("sample-disk.img")));
    sample.open(QIODevice::ReadOnly);
    sample.seek(2048 * 512);
    writeText(root + "/dev/sdc1", sample.read(4096));
    mountPoint = root + "/media/STICK";
    QDir().mkpath(mountPoint);
    writeText(root + "/proc/mountinfo",
              "28 1 254:0 / " + QFile::encodeName(root) + "/media rw - ext4 /dev/gone rw\n"
              "60 28 8:33 / " + QFile::encodeName(mountPoint) + " rw,nosuid - vfat /dev/sdc1 rw\n"
              "61 28 0:21 / /proc rw - proc proc rw\n");
}

MessageLog::MessageLog() {
    ui::setMessageHandler([this](ui::MessageKind kind, const QString& text) {
        (kind == ui::MessageKind::Notice ? notices : questions) << text;
        return answer;
    });
}

MessageLog::~MessageLog() { ui::setMessageHandler({}); }

QString renderToPng(QWidget* widget, const QString& name) {
    const QString dirPath = QStringLiteral(CORVELLO_SCREENSHOT_DIR);
    QDir().mkpath(dirPath);
    const QString path = dirPath + "/" + name + ".png";
    widget->grab().save(path);
    return path;
}

}  // namespace corvello::uitest
