#pragma once

#include <QObject>
#include <QString>

#include <cstdio>
#include <cstdlib>

// The control of a window by its objectName, as a user's script would find it. A missing
// control ends the test program at once with its name, rather than a null pointer later.
template <typename T> T *control(const QObject *root, const char *name)
{
    T *found = root ? root->findChild<T *>(QString::fromLatin1(name)) : nullptr;
    if (!found) {
        std::fprintf(stderr, "no control named %s\n", name);
        std::abort();
    }
    return found;
}
