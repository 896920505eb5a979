#pragma once
// What changed between two configuration images, field by field, under the
// names the main window shows them and in its display units. Bytes no named
// field covers (reserved bytes, checksums) are told by their position, so no
// difference goes unseen.
#include <QByteArray>
#include <QString>

#include <vector>

struct RFieldChange {
    QString field;
    QString before, after;  // as found, as left
};

// Empty when either image is not a whole configuration or both are equal.
std::vector<RFieldChange> DiffImages(const QByteArray& before, const QByteArray& after);
