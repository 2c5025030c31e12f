#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

// Country and network of an IPv4 address, from MaxMind-format databases (.mmdb, read with libmaxminddb): one
// country or city database and one ASN database, told apart by the type their own metadata names, whatever their
// file names. A kind without a database leaves its fields empty.
class GeoLookup
{
public:
    struct Place
    {
        QString country; // ISO 3166 code, "DE"
        quint32 asn = 0; // 0, reserved, for none
        QString organization;
    };

    GeoLookup();
    ~GeoLookup();
    GeoLookup(const GeoLookup&) = delete;
    GeoLookup& operator=(const GeoLookup&) = delete;

    // A database the user named. False, with a line saying why, when the file is no database, holds neither
    // countries nor networks, or is a second one of its kind.
    bool open(const QString& path, QString* failure);
    // For each kind still without a database, the first of the usual names in these folders, in order, that
    // opens as one of that kind; anything else there is passed over.
    void openFromFolders(const QStringList& folders);
    // Where Debian's geoipupdate and the distributions put them.
    static QStringList usualFolders();
    static QStringList usualNames();

    bool hasCountry() const { return m_country != nullptr; }
    bool hasNetwork() const { return m_network != nullptr; }

    Place lookup(quint32 address) const;

private:
    struct Database;
    enum Kind { Country, Network, Neither };

    static Kind kindOf(const Database& database);

    std::unique_ptr<Database> m_country;
    std::unique_ptr<Database> m_network;
};
