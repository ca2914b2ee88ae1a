#pragma once
// Pointing a symbolic link somewhere else in one step, so that whoever resolves it sees
// either the old target or the new one, never no link at all.

#include <QString>

// Creates or replaces Link to point at Target. False with the errno value in Error; the
// link is then as it was.
bool ReplaceSymLink(const QString& Link, const QString& Target, int& Error);
