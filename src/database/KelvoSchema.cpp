#include "database/KelvoSchema.h"

TTableDefinition XrayWorkstationsTable() {
    return {QStringLiteral("XRAYWORKSTATIONS"),
            {{QStringLiteral("COMPUTERNAME"), QStringLiteral("VARCHAR(50)"), true},
             {QStringLiteral("XRAYSTATION"), QStringLiteral("VARCHAR(30)"), true},
             {QStringLiteral("XRAYSTATIONID"), QStringLiteral("VARCHAR(20)"), true},
             {QStringLiteral("STATIONID"), QStringLiteral("VARCHAR(100)"), true},
             {QStringLiteral("IPADRESS"), QStringLiteral("VARCHAR(20)"), false}},
            QStringLiteral("PK_XRAYWORKSTATIONS"),
            {QStringLiteral("COMPUTERNAME"), QStringLiteral("XRAYSTATION"), QStringLiteral("XRAYSTATIONID")}};
}

TTableDefinition XrayDeviceLockListTable() {
    return {QStringLiteral("XRAYDEVICELOCKLIST"),
            {{QStringLiteral("COMPUTERNAME"), QStringLiteral("VARCHAR(50)"), true},
             {QStringLiteral("XRAYSTATION"), QStringLiteral("VARCHAR(30)"), true},
             {QStringLiteral("XRAYSTATIONID"), QStringLiteral("VARCHAR(20)"), true},
             {QStringLiteral("LOCKNUMBER"), QStringLiteral("INT"), true}},
            QStringLiteral("PK_XRAYDEVICELOCKLIST"),
            {QStringLiteral("COMPUTERNAME"), QStringLiteral("XRAYSTATION"), QStringLiteral("XRAYSTATIONID"),
             QStringLiteral("LOCKNUMBER")}};
}

QStringList CreateTableSql(const TTableDefinition& table, DataLinkEngine engine) {
    QStringList lines{QStringLiteral("CREATE TABLE %1 (").arg(table.Name)};
    for (const TColumnDefinition& column : table.Columns) {
        lines.append(QStringLiteral("  %1 %2 %3,")
                         .arg(column.Name, column.Type,
                              column.NotNull ? QStringLiteral("NOT NULL") : QStringLiteral("NULL")));
    }
    // Only SQL Server knows clustered keys; SQLite and PostgreSQL keep rows their own way.
    const QString keyKind = engine == DataLinkEngine::SqlServer ? QStringLiteral("PRIMARY KEY CLUSTERED")
                                                                : QStringLiteral("PRIMARY KEY");
    lines.append(QStringLiteral("  CONSTRAINT %1 %2 (%3)")
                     .arg(table.PrimaryKeyName, keyKind, table.PrimaryKey.join(QStringLiteral(", "))));
    lines.append(QStringLiteral(")"));
    return lines;
}

QStringList CreateXrayWorkstationsSql(DataLinkEngine engine) {
    return CreateTableSql(XrayWorkstationsTable(), engine);
}

QStringList CreateXrayDeviceLockListSql(DataLinkEngine engine) {
    return CreateTableSql(XrayDeviceLockListTable(), engine);
}
