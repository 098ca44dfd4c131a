#pragma once
// The team archive's tables, roles and rules on the server, and their history.
// Each step brings the database from the version before it to its own; the table
// velmora.schema_version lists the steps applied. Steps are only ever added at the
// end, never changed: the as-built jobs, closures and placings come as later steps.
#include <span>
#include <string>

#include "team/team_client.h"

namespace velmora::team {

struct TeamStep {
    int version;
    std::string sql;  // fixed text, several statements
};

std::span<const TeamStep> TeamSteps();
// The version this program brings a team archive to, and reads and sends up to.
int TeamSchemaVersion();

// Creates or brings up to date the schema and the group roles velmora_technician
// and velmora_office, all in one transaction: two programs doing it at once apply
// every step once. Needs a user who may create schemas and roles; TooNew for a
// database of a newer program, left as it is.
TeamError InitialiseTeamArchive(Connection& connection);

// A team archive this program can send to and read: its id (made once by its first
// step) in `archiveId`. NotInitialised without one; TooNew for a newer schema.
TeamError CheckTeamArchive(Connection& connection, std::string& archiveId);

}  // namespace velmora::team
