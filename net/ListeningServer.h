#pragma once

// The listening server: TNMGeneralServer listens on a port and runs each
// incoming connection on a thread of its own (InstantiateServethread).
// The program itself never listens; the component is kept complete.

#include "net/Psock.h"

#include <QThread>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

// A list shared between threads: lock it to walk it.
template<typename T> class TThreadList {
public:
    // The list, locked for as long as this lives (also when an exception
    // leaves the scope).
    class TLocked {
    public:
        TLocked(std::mutex &Mutex, std::vector<T> &Items) : m_lock(Mutex), m_items(Items) { }
        std::vector<T> &operator*() const { return m_items; }
        std::vector<T> *operator->() const { return &m_items; }
        auto begin() const { return m_items.begin(); }
        auto end() const { return m_items.end(); }

    private:
        std::lock_guard<std::mutex> m_lock;
        std::vector<T> &m_items;
    };

    // Locked while the result lives: `for (T item : list.LockList())`.
    TLocked LockList() { return TLocked(m_mutex, m_items); }
    void Add(T item) { LockList()->push_back(item); }
    void Remove(T item)
    {
        TLocked items = LockList();
        items->erase(std::remove(items.begin(), items.end(), item), items.end());
    }
    std::vector<T> Snapshot() { return *LockList(); }

private:
    std::mutex m_mutex;
    std::vector<T> m_items;
};

class InstantiateServethread;

// A listening server: from Loaded on it listens on Port and hands each
// incoming connection to a new instance of its own class, whose Serve runs
// on a thread of its own.
//
// A descendant declares Q_OBJECT and a Q_INVOKABLE constructor taking the
// owner, overrides Serve, and talks to its client with the transfers of
// TPowersock (ReadLn, Writeln, ...), which in Serve block that thread only.
// Notifications are still handled on the GUI thread, which leaves the
// connection's socket alone while Serve runs: the client's close shows in
// Serve as an empty ReadLn. When Serve has returned, the connection closes
// gracefully (everything written is delivered) and the server's
// OnDisconnect fires on the GUI thread.
class TNMGeneralServer : public TPowersock {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TNMGeneralServer(QObject *AOwner = nullptr);
    // Cancels every connection and waits for its thread to end.
    ~TNMGeneralServer() override;

    // Called by the owner once it has finished building the component (a
    // form after its setup): the server starts listening.
    virtual void Loaded();
    // A server does not connect.
    void Connect() override;
    // Cancels every running connection; the server's own waits go on.
    void Abort() override;
    // In a connection instance the socket belongs to Serve's thread: the
    // peer's close only clears Connected, and Serve's ReadLn sees it.
    void PeerClosed() override;
    void ServerAccept(QObject *Sender);
    // The work done for one connection, on its own thread.
    virtual void Serve();

    // The running connection instances; only the listening server has one.
    std::unique_ptr<TThreadList<TNMGeneralServer *>> ClientThreads;
    TNotifyEvent OnClientContact;
    TNMGeneralServer *ParentServer = nullptr;
    InstantiateServethread *ServerThread = nullptr;

private:
    friend class InstantiateServethread;
    // In a fresh connection instance: takes over Socket, accepted by Server,
    // for Thread to serve.
    void TakeConnection(TNMGeneralServer &Server, InstantiateServethread &Thread,
                        Winsock::SOCKET Socket);
    // In a connection instance whose Serve has returned: closes the
    // connection, firing OnDisconnect.
    void EndConnection();
    // Frees a connection's thread once its Serve has returned.
    void EndServeThread(InstantiateServethread *Thread);

    // The threads of the running connections (only a listening server has
    // any); the server is their one owner. GUI thread only.
    std::vector<std::unique_ptr<InstantiateServethread>> m_serveThreads;
};

// Runs one connection instance's Serve. Its server frees it (on the GUI
// thread) when Serve has returned: then the connection is closed,
// OnDisconnect fired, and the instance freed.
class InstantiateServethread : public QThread {
    Q_OBJECT
public:
    // Starts the thread; a connection that cannot be set up is closed, and
    // the thread is left without an instance and not started.
    InstantiateServethread(TNMGeneralServer *Server, Winsock::SOCKET Socket);
    ~InstantiateServethread() override;

    TNMGeneralServer *Instance() const { return m_instance.get(); }

protected:
    // Execute.
    void run() override;

private:
    // The server is the instance's owner as a component (so it knows that
    // it serves a connection), but the thread frees it, always before the
    // server goes.
    std::unique_ptr<TNMGeneralServer> m_instance;
    TNMGeneralServer *m_server = nullptr;
};
