#pragma once

// What the file system refuses, made real for a test: a folder without write permission (which
// refuses root too), a read-only mount, a small disk. Tests run as root in CI, so permissions
// alone stop nothing: root's override is dropped for the calling thread while a restriction
// lives. Mounts are made in a mount namespace of this process only, so they never show outside
// it and vanish with it even when a test crashes; each is also undone when its object goes.
// Where the platform cannot do it, isValid() is false and whyNot() says why: the test skips.

#include <QString>

#include <memory>

namespace testsupport {

class WithoutOverride;

// Takes away write permission from `folder` and root's override of it, or mounts it read-only
// over itself.
class ReadOnlyFolder {
  public:
    enum class Way { Permissions, Mount };
    ReadOnlyFolder(const QString& folder, Way way);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    bool isValid() const { return m_valid; }
    const QString& whyNot() const { return m_whyNot; }

  private:
    QString m_folder;
    Way m_way;
    bool m_valid = false;
    bool m_mounted = false;
    unsigned m_mode = 0;
    std::unique_ptr<WithoutOverride> m_override;
    QString m_whyNot;
};

// An empty disk of `bytes` mounted on the empty folder `folder` (a memory file system).
class SmallDisk {
  public:
    SmallDisk(const QString& folder, qint64 bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool isValid() const { return m_valid; }
    const QString& whyNot() const { return m_whyNot; }

  private:
    QString m_folder;
    bool m_valid = false;
    QString m_whyNot;
};

// Drops root's override of file permissions for the calling thread while it lives (nothing to do
// for an ordinary user).
class WithoutOverride {
  public:
    WithoutOverride();
    ~WithoutOverride();
    WithoutOverride(const WithoutOverride&) = delete;
    WithoutOverride& operator=(const WithoutOverride&) = delete;
    bool isValid() const { return m_valid; }

  private:
    bool m_valid = false;
    bool m_dropped = false;
};

} // namespace testsupport
