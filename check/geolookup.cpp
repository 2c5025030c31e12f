#include "check/geolookup.h"

#include <QDir>
#include <QFile>

#include <maxminddb.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

struct GeoLookup::Database
{
    MMDB_s mmdb = {};
    bool opened = false;

    Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database()
    {
        if (opened)
            MMDB_close(&mmdb);
    }

    bool open(const QString& path, QString* failure)
    {
        const QByteArray name = QFile::encodeName(path);
        const int status = MMDB_open(name.constData(), MMDB_MODE_MMAP, &mmdb);
        opened = status == MMDB_SUCCESS;
        if (opened || !failure)
            return opened;
        if (status == MMDB_FILE_OPEN_ERROR || status == MMDB_IO_ERROR) {
            *failure = QStringLiteral("cannot read %1: %2").arg(path, qt_error_string(errno));
        } else {
            QString reason = QString::fromUtf8(MMDB_strerror(status));
            if (!reason.isEmpty())
                reason[0] = reason[0].toLower();
            *failure = QStringLiteral("%1 is not a MaxMind database: %2").arg(path, reason);
        }
        return false;
    }

    // The file's own name for its kind; a corrupt file may put anything there, and it goes into a one-line message.
    QString type() const
    {
        QString text = QString::fromUtf8(mmdb.metadata.database_type);
        for (QChar& c : text) {
            if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
                c.category() == QChar::Separator_Paragraph)
                c = QLatin1Char('?');
        }
        return text;
    }
};

namespace {

bool find(const MMDB_s& mmdb, const sockaddr_in& address, MMDB_entry_s* entry)
{
    int error = MMDB_SUCCESS;
    const MMDB_lookup_result_s result =
        MMDB_lookup_sockaddr(&mmdb, reinterpret_cast<const sockaddr*>(&address), &error); // NOLINT: the C API's
    if (error != MMDB_SUCCESS || !result.found_entry)
        return false;
    *entry = result.entry;
    return true;
}

QString textAt(MMDB_entry_s* entry, const char* const* path)
{
    MMDB_entry_data_s data = {};
    if (MMDB_aget_value(entry, &data, path) != MMDB_SUCCESS || !data.has_data ||
        data.type != MMDB_DATA_TYPE_UTF8_STRING)
        return QString();
    return QString::fromUtf8(data.utf8_string, qsizetype(data.data_size));
}

// Written as uint32, but a number is a number whatever width a writer chose.
quint32 numberAt(MMDB_entry_s* entry, const char* const* path)
{
    MMDB_entry_data_s data = {};
    if (MMDB_aget_value(entry, &data, path) != MMDB_SUCCESS || !data.has_data)
        return 0;
    switch (data.type) {
    case MMDB_DATA_TYPE_UINT16:
        return data.uint16;
    case MMDB_DATA_TYPE_UINT32:
        return data.uint32;
    case MMDB_DATA_TYPE_UINT64:
        return data.uint64 <= 0xffffffffU ? quint32(data.uint64) : 0;
    default:
        return 0;
    }
}

} // namespace

GeoLookup::GeoLookup() = default;
GeoLookup::~GeoLookup() = default;

QStringList GeoLookup::usualFolders()
{
    return {QStringLiteral("/usr/share/GeoIP"), QStringLiteral("/var/lib/GeoIP")};
}

QStringList GeoLookup::usualNames()
{
    // MaxMind's free and paid files and DB-IP's; the legacy GeoIP.dat is another format.
    return {QStringLiteral("GeoLite2-*.mmdb"), QStringLiteral("GeoIP2-*.mmdb"), QStringLiteral("dbip-*.mmdb")};
}

// By the type the file names itself: "GeoLite2-ASN", "DBIP-ASN-Lite (compat=GeoLite2-ASN)", "GeoIP2-ISP" hold
// networks; "GeoLite2-Country", "GeoIP2-City", "DBIP-City-Lite" countries.
GeoLookup::Kind GeoLookup::kindOf(const Database& database)
{
    const QString type = database.type();
    if (type.contains(QLatin1String("ASN"), Qt::CaseInsensitive) ||
        type.contains(QLatin1String("ISP"), Qt::CaseInsensitive))
        return Network;
    if (type.contains(QLatin1String("Country"), Qt::CaseInsensitive) ||
        type.contains(QLatin1String("City"), Qt::CaseInsensitive))
        return Country;
    return Neither;
}

bool GeoLookup::open(const QString& path, QString* failure)
{
    auto database = std::make_unique<Database>();
    if (!database->open(path, failure))
        return false;
    const Kind kind = kindOf(*database);
    if (kind == Neither) {
        *failure = QStringLiteral("%1 is a database of type \"%2\", neither a country nor an ASN database.")
                       .arg(path, database->type());
        return false;
    }
    std::unique_ptr<Database>& slot = kind == Country ? m_country : m_network;
    if (slot) {
        *failure = QStringLiteral("--geoip names two %1 databases.")
                       .arg(kind == Country ? QStringLiteral("country") : QStringLiteral("ASN"));
        return false;
    }
    slot = std::move(database);
    return true;
}

void GeoLookup::openFromFolders(const QStringList& folders)
{
    for (const QString& folder : folders) {
        if (m_country && m_network)
            return;
        const QDir dir(folder);
        const QStringList names = dir.entryList(usualNames(), QDir::Files | QDir::Readable, QDir::Name);
        for (const QString& name : names) {
            if (m_country && m_network)
                return;
            auto database = std::make_unique<Database>();
            if (!database->open(dir.filePath(name), nullptr))
                continue;
            const Kind kind = kindOf(*database);
            if (kind == Country && !m_country)
                m_country = std::move(database);
            else if (kind == Network && !m_network)
                m_network = std::move(database);
        }
    }
}

GeoLookup::Place GeoLookup::lookup(quint32 address) const
{
    Place place;
    if (!m_country && !m_network)
        return place;
    sockaddr_in socketAddress = {};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = htonl(address);
    MMDB_entry_s entry = {};
    if (m_country && find(m_country->mmdb, socketAddress, &entry)) {
        static const char* const country[] = {"country", "iso_code", nullptr};
        // Where no country is known for the address itself (satellite links, anycast), the one it is registered in.
        static const char* const registered[] = {"registered_country", "iso_code", nullptr};
        place.country = textAt(&entry, country);
        if (place.country.isEmpty())
            place.country = textAt(&entry, registered);
    }
    if (m_network && find(m_network->mmdb, socketAddress, &entry)) {
        static const char* const number[] = {"autonomous_system_number", nullptr};
        static const char* const organization[] = {"autonomous_system_organization", nullptr};
        place.asn = numberAt(&entry, number);
        place.organization = textAt(&entry, organization);
    }
    return place;
}
