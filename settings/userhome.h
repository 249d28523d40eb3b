#pragma once

#include <QString>

// The user's home folder, for the files Kavri keeps below it. A home is an absolute path other
// than "/": what QDir::homePath() gives without HOME ("/") would put them at the root.
namespace UserHome {

// The home the user database (getpwuid) names for the effective user, whatever HOME says: sudo
// and su may carry over someone else's. Empty when there is no such home.
QString fromUserDatabase();

// HOME when it names a home, otherwise fromUserDatabase().
QString current();

} // namespace UserHome
