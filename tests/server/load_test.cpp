// Socket test of many clients at once.
#include "server_fixture.h"

#include <vector>

class LoadTest : public GServerFixture
{
};

TEST_F(LoadTest, ThousandConcurrentConnectionsAreAllServed)
{
    // 1000 client sockets here, on top of what the test process already holds.
    ASSERT_TRUE(EnsureOpenFileLimit(1200)) << "the hard open-file limit is below 1200";
    StartServer();
    std::vector<GWireClient> vecClients(1000);
    for (size_t i = 0; i < vecClients.size(); ++i)
        ASSERT_TRUE(vecClients[i].Connect(m_server.Port())) << "connection " << i;

    // Every connection is open before any of them is answered.
    for (size_t i = 0; i < vecClients.size(); ++i)
        ASSERT_TRUE(vecClients[i].Send(SetRequest("c" + std::to_string(i), I4Image(static_cast<int>(i)), 3, 0, "load")));
    size_t nStored = 0;
    for (GWireClient& client : vecClients)
        nStored += client.ReadReply() == kStored;
    EXPECT_EQ(1000u, nStored);

    for (size_t i = 0; i < vecClients.size(); ++i)
        ASSERT_TRUE(vecClients[i].Send(CommandRequest("get", "c" + std::to_string(i), "load")));
    size_t nFound = 0;
    for (size_t i = 0; i < vecClients.size(); ++i)
        nFound += vecClients[i].ReadReply() == FoundI4(static_cast<int>(i));
    EXPECT_EQ(1000u, nFound);
}
