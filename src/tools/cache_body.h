#pragma once

#include <QString>

enum class BodyResult {
    Written,
    Encoded,    // stored compressed (Content-Encoding): not the resource as such
    Incomplete, // cut short, a partial answer, or no way to tell it is whole
    Unreadable, // not an entry file of the engine's layout, or writing failed
};

// Writes the content of the browser engine's cache entry at entryPath (its
// body, as the server sent it) to target. Written only when the content is
// the resource itself and known to be whole: a full answer, not
// content-encoded, its length and checksum as recorded.
BodyResult ExtractCacheEntryBody(const QString& entryPath, const QString& target);
