#include "library/UnitConnections.h"

#include <utility>

UnitConnections::Handling::Handling(UnitConnections& connections, std::uint64_t connection)
    : m_connections(connections), m_outer(std::exchange(connections.m_handling, connection))
{
}

UnitConnections::Handling::~Handling() { m_connections.m_handling = m_outer; }
