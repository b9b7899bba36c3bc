#pragma once

// The embedded default database of a fresh installation: one data-link file in the
// data-link folder that names an SQLite database in the user's data folder, so that the
// first start connects without asking and creates the tables (docs/settings.md).

#include <QString>

// Name of the data-link file written for a fresh installation.
QString EmbeddedDataLinkName();
// The SQLite database it names: $XDG_DATA_HOME/kelvo/ravlek.sqlite.
QString EmbeddedDatabasePath();
// "Provider=SQLite;Data Source=" + EmbeddedDatabasePath().
QString EmbeddedConnectionString();

enum class TEmbeddedDefault {
    Written,     // the folder held no data-link file; one was written
    NotNeeded,   // the folder already holds a data-link file
    NotWritable, // the folder held none and none could be written there
};

// Writes the embedded default's data-link file into `dataLinksPath` (created when
// missing) when that folder holds no "*.udl" file at all.
TEmbeddedDefault EnsureEmbeddedDataLink(const QString& dataLinksPath);
