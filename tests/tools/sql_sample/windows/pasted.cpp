// What the SQL check must refuse: values pasted into SQL texts and find criteria outside the store.
// This file is never compiled.
void examples(const QString& typed, qint64 key)
{
    source->setRecordSource(QStringLiteral("Select * from biblio where genere = '") + typed + "'");
    source->setRecordSource("Select * from biblio where id=" + QString::number(key));
    source->setRecordSource(QStringLiteral("Select * from autore where nome = '%1'").arg(typed));
    source->findFirst(QStringLiteral("id=") + QString::number(key));
}
