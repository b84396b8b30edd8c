#include "books/SavedStocks.h"

#include "app/Paths.h"
#include "store/DbError.h"

#include <QSettings>

#include <cmath>

namespace books::stocks {
namespace {

const QString kGroup = QStringLiteral("Etichette");
const QString kArray = QStringLiteral("fogli");

bool readNumber(const QSettings& ini, const QString& key, double& target)
{
    bool ok = false;
    const double value = ini.value(key).toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return false;
    }
    target = value;
    return true;
}

bool readCount(const QSettings& ini, const QString& key, int& target)
{
    bool ok = false;
    const int value = ini.value(key).toInt(&ok);
    if (!ok) {
        return false;
    }
    target = value;
    return true;
}

QList<printing::LabelStock> readAll(QSettings& ini)
{
    QList<printing::LabelStock> found;
    ini.beginGroup(kGroup);
    const int count = ini.beginReadArray(kArray);
    for (int i = 0; i < count; ++i) {
        ini.setArrayIndex(i);
        printing::LabelStock s;
        s.name = ini.value(QStringLiteral("nome")).toString().trimmed();
        const bool read = readNumber(ini, QStringLiteral("larghezza_pagina"), s.pageWidth) &&
                          readNumber(ini, QStringLiteral("altezza_pagina"), s.pageHeight) &&
                          readNumber(ini, QStringLiteral("margine_sinistro"), s.marginLeft) &&
                          readNumber(ini, QStringLiteral("margine_superiore"), s.marginTop) &&
                          readNumber(ini, QStringLiteral("passo_orizzontale"), s.pitchX) &&
                          readNumber(ini, QStringLiteral("passo_verticale"), s.pitchY) &&
                          readNumber(ini, QStringLiteral("larghezza_etichetta"), s.labelWidth) &&
                          readNumber(ini, QStringLiteral("altezza_etichetta"), s.labelHeight) &&
                          readCount(ini, QStringLiteral("colonne"), s.columns) &&
                          readCount(ini, QStringLiteral("righe"), s.rows);
        if (read && !s.name.isEmpty() && s.problem().isEmpty()) {
            found << s;
        }
    }
    ini.endArray();
    ini.endGroup();
    return found;
}

// Writes `all` in place of the saved stocks; on a failure the process's copy of the file is put
// back as it was, so the rest of the run never offers stocks that were not saved.
void writeAll(const QList<printing::LabelStock>& all)
{
    const auto ini = paths::settings();
    const QList<printing::LabelStock> before = readAll(*ini);
    const auto write = [&ini](const QList<printing::LabelStock>& stocks) {
        ini->beginGroup(kGroup);
        ini->remove(kArray);
        ini->beginWriteArray(kArray, int(stocks.size()));
        for (int i = 0; i < stocks.size(); ++i) {
            const printing::LabelStock& s = stocks[i];
            ini->setArrayIndex(i);
            ini->setValue(QStringLiteral("nome"), s.name);
            ini->setValue(QStringLiteral("larghezza_pagina"), s.pageWidth);
            ini->setValue(QStringLiteral("altezza_pagina"), s.pageHeight);
            ini->setValue(QStringLiteral("margine_sinistro"), s.marginLeft);
            ini->setValue(QStringLiteral("margine_superiore"), s.marginTop);
            ini->setValue(QStringLiteral("passo_orizzontale"), s.pitchX);
            ini->setValue(QStringLiteral("passo_verticale"), s.pitchY);
            ini->setValue(QStringLiteral("larghezza_etichetta"), s.labelWidth);
            ini->setValue(QStringLiteral("altezza_etichetta"), s.labelHeight);
            ini->setValue(QStringLiteral("colonne"), s.columns);
            ini->setValue(QStringLiteral("righe"), s.rows);
        }
        ini->endArray();
        ini->endGroup();
    };
    write(all);
    ini->sync();
    if (ini->status() != QSettings::NoError) {
        write(before);
        throw store::DbError(store::ErrPathFileAccess,
                             QStringLiteral("Non è stato possibile salvare i fogli di etichette nel file ") +
                                 ini->fileName() + QStringLiteral("."));
    }
}

} // namespace

QList<printing::LabelStock> saved()
{
    const auto ini = paths::settings();
    return readAll(*ini);
}

void save(const printing::LabelStock& stock)
{
    printing::LabelStock named = stock;
    named.name = stock.name.trimmed();
    if (named.name.isEmpty()) {
        throw store::DbError(store::ErrInvalidProcedure, QStringLiteral("Scrivere il nome con cui salvare il foglio."));
    }
    if (const QString problem = named.problem(); !problem.isEmpty()) {
        throw store::DbError(store::ErrInvalidProcedure, problem);
    }
    QList<printing::LabelStock> all = saved();
    bool replaced = false;
    for (printing::LabelStock& s : all) {
        if (s.name.compare(named.name, Qt::CaseInsensitive) == 0) {
            s = named;
            replaced = true;
        }
    }
    if (!replaced) {
        all << named;
    }
    writeAll(all);
}

void remove(const QString& name)
{
    QList<printing::LabelStock> all = saved();
    all.removeIf([&name](const printing::LabelStock& s) { return s.name.compare(name, Qt::CaseInsensitive) == 0; });
    writeAll(all);
}

} // namespace books::stocks
