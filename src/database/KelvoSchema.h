#pragma once

// The program's two tables and the statements that create them on each engine. Every
// engine gets the same columns, types, null rules and primary-key names; only SQL Server
// is told to cluster the key.

#include "database/DataLinkFile.h"

#include <QList>
#include <QString>
#include <QStringList>

struct TColumnDefinition {
    QString Name;
    QString Type; // as written in CREATE TABLE: "VARCHAR(50)", "INT"
    bool NotNull = true;
};

struct TTableDefinition {
    QString Name;
    QList<TColumnDefinition> Columns;
    QString PrimaryKeyName;
    QStringList PrimaryKey; // the key's columns in order
};

// XRAYWORKSTATIONS, the station register.
TTableDefinition XrayWorkstationsTable();
// XRAYDEVICELOCKLIST, the lock list.
TTableDefinition XrayDeviceLockListTable();

// The lines of one CREATE TABLE statement for `table` on `engine`.
QStringList CreateTableSql(const TTableDefinition& table, DataLinkEngine engine);
QStringList CreateXrayWorkstationsSql(DataLinkEngine engine);
QStringList CreateXrayDeviceLockListSql(DataLinkEngine engine);
