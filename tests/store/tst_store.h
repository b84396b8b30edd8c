// The archive store on real archive files: schema, shared queries, recordsets, data sources,
// error numbers and the presence lock.
#pragma once

#include "store/Archive.h"
#include "store/DataSource.h"
#include "store/Recordset.h"
#include "support/StoreSupport.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

// A bound control as the store sees it: remembers what it was shown, gives back what it was told.
class TestBinding : public store::FieldBinding {
  public:
    explicit TestBinding(const QString& field) : m_field(field) {}
    QString dataField() const override { return m_field; }
    void showFieldValue(const QVariant& value) override
    {
        shown = value;
        ++shows;
    }
    QVariant fieldValueForUpdate() const override { return toWrite; }

    QVariant shown;
    int shows = 0;
    QVariant toWrite;

  private:
    QString m_field;
};

class TestStore : public QObject {
    Q_OBJECT

  private:
    testsupport::ArchiveFolder m_dir;

    // A new archive file in the temporary folder; with `sample` it holds the sample catalogue.
    QString newArchive(bool sample = true);

    // The keys of the sample catalogue.
    enum : qint64 {
        BookZeta = 10,
        BookElite = 11,
        BookElefanti = 12,
        BookEdera = 13,
        BookAbaco = 14,
        BookAncora = 15,
        AuthorVerdi = 1,
        AuthorBianchi = 2,
        AuthorErcole = 3,
        AuthorNeri = 4,
        PublisherUlisse = 1,
        PublisherAlba = 2,
        PublisherEtna = 3,
        PublisherGone = 4,
    };

  private slots:
    void initTestCase();

    // Reading (tst_store.cpp)
    void sharedQueries();
    void joinedFieldsByTable();
    void fieldNamesInAnyCase();
    void findFirstAndNoMatch();
    void movingThroughResults();
    void sqlTranslation();
    void lazyPagesOverManyBooks();

    // Writing (tst_store_writing.cpp)
    void addingAuthorsAndPublishers();
    void editingAndDeletingBooks();
    void linksFollowTheirBookAndAuthor();
    void requeryShowsOtherConnectionsChanges();
    void dataSourceWithBoundFields();

    // The editing contract (tst_store_editing.cpp)
    void editWritesOnlyTheRowItOpened();
    void anotherUsersChangeIsRefused();
    void busyArchiveIsReportedQuickly();
    void typedValuesAreBoundNeverPasted();
    void queriesWithAliasesAndQuotedNames();
    void oneComparisonRuleForTexts();
    void transactionsAndOneConnectionPerWindow();

    // The catalogue's own queries (tst_store_catalogue.cpp)
    void searchIsReadInPages();
    void searchWithOrFindsTheRowsOfTheWholeCondition();
    void searchKeysMustMatchTheirQuery();
    void largeSearchesKeepMoreOfTheArchiveAtHand();
    void sameQueryKeysAreReadOnce();
    void sameQueryRowsAreReadOnce();
    void freeBookKeys();

    // The archive file (tst_store_archive.cpp)
    void schemaOfANewArchive();
    void doubleQuotedTextIsAName();
    void openingWhatIsNotAnArchive_data();
    void openingWhatIsNotAnArchive();
    void openingAMissingFile();
    void presenceLock();
    void presenceLockAcrossProcesses();
    void readableByTheSqliteShell();
    void aSaveAfterTheArchiveFileWentNamesTheCause_data();
    void aSaveAfterTheArchiveFileWentNamesTheCause();
    void anArchiveEmptiedWhileOpenIsNamed();
    void engineErrorsKeepTheirDetail();
};
