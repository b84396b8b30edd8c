#include "support/Restrictions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#if defined(Q_OS_LINUX)
#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace testsupport {
namespace {

#if defined(Q_OS_LINUX)

// True when a file can be created in `folder` now.
bool canCreateIn(const QString& folder)
{
    QFile probe(QDir(folder).filePath(QStringLiteral(".prova-restrizione")));
    if (!probe.open(QIODevice::WriteOnly)) {
        return false;
    }
    probe.close();
    probe.remove();
    return true;
}

QByteArray native(const QString& path)
{
    return QFile::encodeName(QDir(path).absolutePath());
}

QString lastError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}

// The capability sets of the calling thread.
bool capabilities(__user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, data) == 0;
}

bool setCapabilities(__user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capset, &header, data) == 0;
}

constexpr quint32 kOverride = 1u << CAP_DAC_OVERRIDE;

// Mounts made from now on stay inside this process (and the processes it starts). Done once.
bool privateMounts(QString& whyNot)
{
    static int state = 0; // 0 not tried, 1 done, -1 impossible
    static QString reason;
    if (state == 0) {
        if (::unshare(CLONE_NEWNS) != 0) {
            reason = lastError("unshare(CLONE_NEWNS)");
            state = -1;
        } else if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            reason = lastError("mount --make-rprivate /");
            state = -1;
        } else {
            state = 1;
        }
    }
    whyNot = reason;
    return state == 1;
}

#endif

} // namespace

// ---------------------------------------------------------------- WithoutOverride

WithoutOverride::WithoutOverride()
{
#if defined(Q_OS_LINUX)
    __user_cap_data_struct data[2]{};
    if (!capabilities(data)) {
        return;
    }
    if (data[0].effective & kOverride) {
        data[0].effective &= ~kOverride;
        if (!setCapabilities(data)) {
            return;
        }
        m_dropped = true;
    }
    m_valid = true;
#else
    m_valid = true; // permissions bind every user elsewhere as far as these tests go
#endif
}

WithoutOverride::~WithoutOverride()
{
#if defined(Q_OS_LINUX)
    if (m_dropped) {
        __user_cap_data_struct data[2]{};
        if (capabilities(data)) {
            data[0].effective |= data[0].permitted & kOverride;
            setCapabilities(data);
        }
    }
#endif
}

// ---------------------------------------------------------------- ReadOnlyFolder

ReadOnlyFolder::ReadOnlyFolder(const QString& folder, Way way) : m_folder(QDir(folder).absolutePath()), m_way(way)
{
#if defined(Q_OS_LINUX)
    if (way == Way::Permissions) {
        struct stat info {};
        if (::stat(native(m_folder).constData(), &info) != 0) {
            m_whyNot = lastError("stat");
            return;
        }
        m_mode = info.st_mode & 07777;
        if (::chmod(native(m_folder).constData(), m_mode & ~0222u) != 0) {
            m_whyNot = lastError("chmod");
            m_mode = 0;
            return;
        }
        m_override = std::make_unique<WithoutOverride>();
    } else {
        if (!privateMounts(m_whyNot)) {
            return;
        }
        if (::mount(native(m_folder).constData(), native(m_folder).constData(), nullptr, MS_BIND, nullptr) != 0) {
            m_whyNot = lastError("mount --bind");
            return;
        }
        m_mounted = true;
        if (::mount(nullptr, native(m_folder).constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            m_whyNot = lastError("mount -o remount,bind,ro");
            return;
        }
    }
    m_valid = !canCreateIn(m_folder);
    if (!m_valid) {
        m_whyNot = QStringLiteral("the folder still takes new files");
    }
#else
    Q_UNUSED(way);
    m_whyNot = QStringLiteral("read-only folders are made for tests on Linux only");
#endif
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    m_override.reset();
#if defined(Q_OS_LINUX)
    if (m_way == Way::Permissions && m_mode != 0) {
        ::chmod(native(m_folder).constData(), m_mode);
    }
    if (m_mounted) {
        ::umount2(native(m_folder).constData(), MNT_DETACH);
    }
#endif
}

// ---------------------------------------------------------------- SmallDisk

SmallDisk::SmallDisk(const QString& folder, qint64 bytes) : m_folder(QDir(folder).absolutePath())
{
#if defined(Q_OS_LINUX)
    if (!QDir().mkpath(m_folder) || !privateMounts(m_whyNot)) {
        return;
    }
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
    if (::mount("carteo-prova", native(m_folder).constData(), "tmpfs", 0, options.constData()) != 0) {
        m_whyNot = lastError("mount -t tmpfs");
        return;
    }
    m_valid = true;
#else
    Q_UNUSED(bytes);
    m_whyNot = QStringLiteral("small disks are made for tests on Linux only");
#endif
}

SmallDisk::~SmallDisk()
{
#if defined(Q_OS_LINUX)
    if (m_valid) {
        ::umount2(native(m_folder).constData(), MNT_DETACH);
    }
#endif
}

} // namespace testsupport
