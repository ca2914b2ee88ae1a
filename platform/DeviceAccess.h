#pragma once
// Who may open a device file: its owner, group and mode, and which groups the current
// user belongs to, both in this session and in the account database (the two differ
// until the user logs in again after being added to a group).

#include <QString>

struct TFileOwnership {
    bool exists = false;
    bool charDevice = false;
    unsigned uid = 0;
    unsigned gid = 0;
    unsigned mode = 0; // permission bits only
    QString owner;     // empty when the number has no name
    QString group;
};

// Follows symbolic links. False (exists stays false) when the file cannot be reached.
bool StatFile(const QString& Path, TFileOwnership& Facts);

unsigned CurrentUid();
QString CurrentUserName();
// The process (this login session) carries the group now.
bool SessionHasGroup(unsigned Gid);
// The account database lists the user in the group (as a member or as the primary group).
bool AccountInGroup(const QString& User, unsigned Gid);
