#pragma once

#include <QtGlobal>

// The program's resource bundles live in the static library: a test that shows images,
// style sheets or translations registers them first, as main() does. Q_INIT_RESOURCE must be
// used outside any namespace.
inline void initKavriResources()
{
    Q_INIT_RESOURCE(kavri_logo);
    Q_INIT_RESOURCE(kavri_res);
}
