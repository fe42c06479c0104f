#include "referenceserver.h"

#include <modbus.h>
#include <sys/select.h>
#include <unistd.h>

namespace {
const int LISTEN_BACKLOG = 32;
const int SELECT_TIMEOUT_US = 100 * 1000; // how soon the loop notices it should stop
} // namespace

CReferenceServer::CReferenceServer(const QVector<quint16>& registers) : registers(registers)
{
}

CReferenceServer::~CReferenceServer()
{
    stopping = true;
    if (thread.joinable())
        thread.join();
}

bool CReferenceServer::start(quint16 port)
{
    modbus_t* probe = modbus_new_tcp("127.0.0.1", port);
    listenSocket = modbus_tcp_listen(probe, LISTEN_BACKLOG);
    modbus_free(probe);
    if (listenSocket < 0)
        return false;
    thread = std::thread(&CReferenceServer::serve, this);
    return true;
}

// One select() loop over the listening socket and every client, as libmodbus servers do.
void CReferenceServer::serve()
{
    modbus_t* context = modbus_new_tcp("127.0.0.1", 0);
    modbus_mapping_t* mapping = modbus_mapping_new(0, 0, registers.size(), registers.size());
    for (int i = 0; i < registers.size(); ++i) {
        mapping->tab_registers[i] = registers.at(i);
        mapping->tab_input_registers[i] = registers.at(i);
    }
    fd_set clients;
    FD_ZERO(&clients);
    FD_SET(listenSocket, &clients);
    int maxSocket = listenSocket;
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];

    while (!stopping) {
        fd_set readable = clients;
        timeval timeout {0, SELECT_TIMEOUT_US};
        if (select(maxSocket + 1, &readable, nullptr, nullptr, &timeout) <= 0)
            continue;
        for (int socket = 0; socket <= maxSocket; ++socket) {
            if (!FD_ISSET(socket, &readable))
                continue;
            if (socket == listenSocket) {
                const int client = modbus_tcp_accept(context, &listenSocket);
                if (client >= 0) {
                    FD_SET(client, &clients);
                    maxSocket = std::max(maxSocket, client);
                }
                continue;
            }
            modbus_set_socket(context, socket);
            const int length = modbus_receive(context, query);
            if (length > 0) {
                modbus_reply(context, query, length, mapping);
            } else if (length < 0) {
                close(socket);
                FD_CLR(socket, &clients);
            }
        }
    }
    for (int socket = 0; socket <= maxSocket; ++socket) {
        if (FD_ISSET(socket, &clients))
            close(socket);
    }
    modbus_mapping_free(mapping);
    modbus_free(context);
}
