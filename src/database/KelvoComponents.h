#pragma once

// The maker's own query component for ADO connections: TKelvoAdoQuery, with a reading
// path for variant columns that answers whether a value is there.

#include "database/KelvoDatabase.h"

// The data-set base of the maker's components.
class TKelvoCustomADODataSet : public TCustomADODataSet {
    Q_OBJECT
public:
    explicit TKelvoCustomADODataSet(QObject* owner = nullptr);

    // The data set this one is nested in, or none.
    TCustomADODataSet* GetParentDataSet() const { return m_parentDataSet; }
    void SetParentDataSet(TCustomADODataSet* parent) { m_parentDataSet = parent; }

    // A nested data set is at its end also when its parent is active and stands beyond
    // its records or is inserting one.
    bool Eof() const override;

    // The value of `field` in the current record. False when there is no current record
    // or the value is Null; otherwise true, with the value copied into `buffer` when one
    // is given. A variant column's value is handed over whole, whatever type it holds.
    bool GetFieldData(const TField& field, QVariant* buffer) const;

private:
    QPointer<TCustomADODataSet> m_parentDataSet;
};

class TKelvoAdoQuery : public TKelvoCustomADODataSet {
    Q_OBJECT
public:
    explicit TKelvoAdoQuery(QObject* owner = nullptr);

    TStringList* SQL() const { return FSQL; }
    TStringList* GetSQL() const { return FSQL; }
    // Copies the given lines into the owned list.
    void SetSQL(const QStringList& lines) { FSQL->Assign(lines); }

    // Runs the text without opening a result set; keeps and answers the rows affected.
    int ExecSQL();
    int RowsAffected() const { return FRowsAffected; }

private:
    // Every change of SQL closes the query and makes the lines its command text.
    void SQLTextChanged();

    TStringList* FSQL; // owned as a child
    int FRowsAffected = 0;
};
