#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace KavriTest {

// A fresh temporary directory as the working directory, so "./Kavri.ini" starts absent.
// Suites enter it in init() and leave it in cleanup(); a test function may also hold one
// on the stack, which leaves when it goes out of scope.
class WorkDir final
{
public:
    WorkDir() = default;
    ~WorkDir() { leave(); }
    WorkDir(const WorkDir &) = delete;
    WorkDir &operator=(const WorkDir &) = delete;

    // Makes a new empty directory current; false when it could not be made or entered.
    bool enter()
    {
        leave();
        m_previous = QDir::currentPath();
        m_dir = std::make_unique<QTemporaryDir>();
        return m_dir->isValid() && QDir::setCurrent(m_dir->path());
    }

    // Goes back to the directory that was current before enter(), then removes the new one.
    void leave()
    {
        if (!m_dir)
            return;
        QDir::setCurrent(m_previous);
        m_dir.reset();
    }

    QString path() const { return m_dir ? m_dir->path() : QString(); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previous;
};

} // namespace KavriTest
