#include "database/KelvoComponents.h"

TKelvoCustomADODataSet::TKelvoCustomADODataSet(QObject* owner)
    : TCustomADODataSet(owner) {}

bool TKelvoCustomADODataSet::Eof() const {
    if (TCustomADODataSet::Eof())
        return true;
    return m_parentDataSet && m_parentDataSet->Active() &&
           (m_parentDataSet->Eof() || m_parentDataSet->State() == TDataSetState::dsInsert);
}

bool TKelvoCustomADODataSet::GetFieldData(const TField& field, QVariant* buffer) const {
    if (!Active() || !HasCurrentRecord())
        return false;
    const QVariant value = CurrentValue(field.Index());
    if (value.isNull())
        return false;
    if (buffer)
        *buffer = value;
    return true;
}

TKelvoAdoQuery::TKelvoAdoQuery(QObject* owner)
    : TKelvoCustomADODataSet(owner)
    , FSQL(new TStringList(this)) {
    connect(FSQL, &TStringList::Changed, this, &TKelvoAdoQuery::SQLTextChanged);
}

void TKelvoAdoQuery::SQLTextChanged() {
    SetCommandText(FSQL->Text());
}

int TKelvoAdoQuery::ExecSQL() {
    FRowsAffected = ExecuteCommand();
    return FRowsAffected;
}
