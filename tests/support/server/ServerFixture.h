#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/bundle/Configuration.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/RunLoop.h"
#include "support/files/TemporaryFolder.h"
#include "support/server/LoopbackServer.h"
#include "support/server/ZipMaker.h"

// A temporary root folder, the queues, and a loopback server the "Configuration" table points at.
struct ServerFixture {
    platform::RunLoop loop;
    platform::Dispatch dispatch{loop};
    support::LoopbackServer server;
    TemporaryFolder folder;
    std::filesystem::path root{folder.path()};

    ~ServerFixture() { loop.runUntilIdle(); }

    platform::Configuration configuration() const
    {
        return platform::Configuration(platform::StringsTable::parse(
            "\"kServerURLAllQFX\" = \"" + server.url("/v1/effects.json") + "\";\n\"kServerURLAppVersion\" = \"" +
            server.url("/v1/apps.json") + "\";\n\"kServerURLModelVersion\" = \"" + server.url("/v1/models.json") +
            "\";\n\"kDownload_Time_Out\" = \"5\";\n\"kTime_Out_Of_Checking_Server\" = \"2\";\n"));
    }

    std::string read(const std::filesystem::path& relative) const { return zipmaker::readFile(root / relative); }
    void write(const std::filesystem::path& relative, const std::string& text) const
    {
        std::filesystem::create_directories((root / relative).parent_path());
        zipmaker::writeFile(root / relative, text);
    }
};
