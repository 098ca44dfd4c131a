// Measures sending the largest download to a team archive as `velmora-cli team
// sync` does: 5,263 records and 50 images (100 kB JPEG files each) from a laptop's
// own archive to a PostgreSQL server this run starts in a temporary folder
// (tests/support/postgres_server), as a technician over TLS with a password.
//  1. the whole send (goal: under 2 s), the rows and JPEG bytes on the server
//     counted against what was sent;
//  2. a second send, which finds nothing new (goal: under 100 ms).
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "bench/bench_support.h"
#include "sim/record_commands.h"
#include "support/postgres_server.h"
#include "team/team_client.h"
#include "team/team_schema.h"
#include "team/team_sync.h"
#include "team/team_texts.h"

namespace {

using namespace velmora;
using namespace velmora::bench;
using Clock = std::chrono::steady_clock;

constexpr int kRecords = 5263;
constexpr int kImages = 50;
constexpr std::size_t kImageBytes = 100 * 1024;
constexpr const char* kFolder = "2406A0153";

// The laptop's own archive: the download, and its images saved beside it.
bool MakeLaptop(const std::filesystem::path& data) {
    auto opened = archive::Archive::Open(archive::ArchiveFile(data));
    if (!opened.archive) return false;
    const archive::SplicerIdentity splicer{kFolder, "M2406A0153"};
    std::vector<SpliceRecord> records;
    for (int i = 0; i < kRecords; ++i) {
        SpliceRecord r{sim::SampleRecord(0)};
        const int fields[] = {26, 3, 1 + i / 1440, i / 60 % 24, i % 60, 0};
        for (int k = 0; k < 6; ++k) r.bytes[k] = static_cast<std::uint8_t>(fields[k]);
        records.push_back(r);
    }
    if (!opened.archive->StoreDownload(splicer, records).ok()) return false;
    const std::filesystem::path jpg = data / "FS" / kFolder / "JPG";
    std::filesystem::create_directories(jpg);
    for (int i = 0; i < kImages; ++i) {
        std::vector<std::uint8_t> jpeg(kImageBytes, static_cast<std::uint8_t>(i));
        const std::string stamp = "202603010" + std::to_string(1000 + i).substr(1) + "00";
        const std::string name = stamp + "0.jpg";
        std::ofstream(jpg / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<long>(jpeg.size()));
        if (!opened.archive->StoreImage(splicer, {stamp, name, jpeg}).ok()) return false;
    }
    return true;
}

long long ServerNumber(test::PostgresServer& server, const std::string& sql) {
    std::string out;
    if (!server.Psql("bench", "COPY (" + sql + ") TO STDOUT", &out)) return -1;
    return std::atoll(out.c_str());
}

}  // namespace

int main() {
    Goals goals("bench_team");
    std::string why;
    test::PostgresServer* server = test::PostgresServer::Shared(why);
    if (!server) {
        goals.NotMeasured("sending to the team archive", why);
        return goals.Finish();
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-team-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path data = pattern;
    team::TeamError error;
    if (server->CreateDatabase("bench")) {
        if (const auto admin = team::Connection::Open(server->AdminUri("bench"), error))
            error = team::InitialiseTeamArchive(*admin);
    }
    server->CreateTechnician("bench_tech", "bench-pw");
    server->WritePassFile(data / "pgpass", "bench_tech", "bench-pw");
    setenv("PGPASSFILE", (data / "pgpass").c_str(), 1);
    if (!error.ok() || !MakeLaptop(data)) {
        goals.NotMeasured("sending to the team archive",
                          "no team archive or laptop: " + team::TeamErrorText(error));
        return goals.Finish();
    }
    auto local = archive::Archive::Open(archive::ArchiveFile(data));
    std::string laptopError;
    team::SendOptions options{
        .dataFolder = data, .laptopId = team::LaptopId(data, laptopError), .archiveId = {}};

    // As team sync does: connect, check, send.
    auto send = [&](team::SendOutcome& outcome) {
        const Clock::time_point start = Clock::now();
        const auto connection =
            team::Connection::Open(server->TlsUri("bench_tech", "bench"), error);
        if (connection) error = team::CheckTeamArchive(*connection, options.archiveId);
        if (connection && error.ok())
            outcome = team::SendToTeam(*connection, *local.archive, options);
        if (!error.ok()) outcome.error = error;
        return Clock::now() - start;
    };
    team::SendOutcome first, second;
    const auto firstTime = send(first);
    if (!first.error.ok()) {
        goals.NotMeasured("sending to the team archive", team::TeamErrorText(first.error));
        return goals.Finish();
    }
    const auto secondTime = send(second);
    std::printf("sent %lld records and %lld images in %.0f ms; nothing new in %.1f ms\n",
                static_cast<long long>(first.sent[0]), static_cast<long long>(first.sent[1]),
                Milliseconds(firstTime), Milliseconds(secondTime));

    const bool counted =
        goals.Expect("records on the server",
                     ServerNumber(*server, "SELECT count(*) FROM velmora.records"), kRecords) &
        goals.Expect("images on the server",
                     ServerNumber(*server, "SELECT count(*) FROM velmora.images"), kImages) &
        goals.Expect("JPEG bytes on the server",
                     ServerNumber(*server, "SELECT sum(length(jpeg)) FROM velmora.images"),
                     static_cast<long long>(kImages * kImageBytes)) &
        goals.Expect("rows sent again", second.sent[0] + second.sent[1], 0);
    if (counted) {
        goals.Under("5,263 records and 50 images sent", Seconds(firstTime), 2.0, "s", 3);
        goals.Under("a send with nothing new", Milliseconds(secondTime), 100.0, "ms", 1);
    }
    std::filesystem::remove_all(data);
    return goals.Finish();
}
