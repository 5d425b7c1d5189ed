#pragma once

#include "ui/installer_controller.h"

#include <QLabel>

namespace quillmere::test {

// The control of `window` with the object name `name`; a missing one stops the run.
template <class T> T *control(const QWidget *window, const char *name)
{
    T *found = window->findChild<T *>(QString::fromLatin1(name));
    Q_ASSERT_X(found, "control", name);
    return found;
}

template <class T> T *control(const InstallerController &controller, const char *name)
{
    return control<T>(controller.windowWidget(), name);
}

// The text of the controller's label `name` ("statusLabel", "detailLabel").
inline QString textOf(const InstallerController &controller, const char *name)
{
    return control<QLabel>(controller, name)->text();
}

}  // namespace quillmere::test
