#pragma once

#include <QByteArray>

class TWavPlayer;

// The stored record of the ready sound "Scanner_Ready.wav" that the main window's player
// is kept with (see TStoredFile for the format).
QByteArray ReadySoundRecord();

// Gives the main window's player, WavPlayer1, the state it is stored with: asynchronous,
// not looped, stCustom, and the ready sound read from its stored record.
void LoadReadySound(TWavPlayer& player);
