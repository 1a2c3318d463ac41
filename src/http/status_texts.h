#pragma once

#include <QString>

#include <array>

// Number of slots in the status description table: codes 0 to 600.
inline constexpr int StatusSlotCount = 601;

// Chinese description of every HTTP status code from 0 to 600; codes the table
// does not list hold the empty text.
const std::array<QString, StatusSlotCount>& StatusDescriptionTable();

// The table's text for status; empty outside 0 to 600.
QString StatusDescription(int status);
