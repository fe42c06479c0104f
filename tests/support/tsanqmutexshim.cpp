// Linked into every program of a ThreadSanitizer build (TARVEX_SANITIZE=thread), ahead of QtCore.
// Qt 5 from Debian is not instrumented: QMutex::lock() and unlock() run entirely inside QtCore,
// so ThreadSanitizer sees none of the ordering a QMutex gives and reports every access guarded by
// one as a race. These definitions take the place of QtCore's for the calls our code makes, run
// QtCore's own and tell ThreadSanitizer that the mutex was taken or released. The same holds for
// QWaitCondition::wait, which releases the mutex while it waits and takes it again before it
// returns. Calls QtCore makes within itself still go to its own definitions.
// A functor or member function handed to QObject::connect or QMetaObject::invokeMethod reaches
// the thread that calls it through QtCore's event queue and connection lists, also unseen: the
// shim wraps it in a slot object that tells ThreadSanitizer the call follows the hand-over (and,
// for a blocking call, that the caller goes on after the call).
#include <QDeadlineTimer>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

namespace {

// QtCore's definition of the function with the given mangled name.
template<typename Function>
Function qtCore(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Calls the slot object it wraps, ordered after its own construction in the handing thread.
class CTsanSlotObject : public QtPrivate::QSlotObjectBase
{
public:
    CTsanSlotObject(QtPrivate::QSlotObjectBase* slot, const void* callDone)
        : QSlotObjectBase(&impl), slot(slot), callDone(callDone)
    {
        __tsan_release(this);
    }

private:
    static void impl(int which, QSlotObjectBase* self, QObject* receiver, void** args, bool* ret)
    {
        auto* wrapper = static_cast<CTsanSlotObject*>(self);
        __tsan_acquire(wrapper);
        switch (which) {
        case Destroy:
            wrapper->slot->destroyIfLastRef();
            delete wrapper;
            break;
        case Call:
            wrapper->slot->call(receiver, args);
            if (wrapper->callDone)
                __tsan_release(const_cast<void*>(wrapper->callDone));
            break;
        case Compare:
            *ret = wrapper->slot->compare(args);
            break;
        }
    }

    QtPrivate::QSlotObjectBase* const slot;
    // Set for a blocking call: the caller waits on it.
    const void* const callDone;
};

} // namespace

QMetaObject::Connection QObject::connectImpl(const QObject* sender, void** signal,
    const QObject* receiver, void** slotPointer, QtPrivate::QSlotObjectBase* slot,
    Qt::ConnectionType type, const int* types, const QMetaObject* senderMetaObject)
{
    static const auto real
        = qtCore<QMetaObject::Connection (*)(const QObject*, void**, const QObject*, void**,
            QtPrivate::QSlotObjectBase*, Qt::ConnectionType, const int*, const QMetaObject*)>(
            "_ZN7QObject11connectImplEPKS_PPvS1_S3_"
            "PN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPKiPK11QMetaObject");
    return real(sender, signal, receiver, slotPointer, new CTsanSlotObject(slot, nullptr), type,
        types, senderMetaObject);
}

bool QMetaObject::invokeMethodImpl(
    QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type, void* ret)
{
    static const auto real
        = qtCore<bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*)>(
            "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14Connec"
            "tionTypeEPv");
    const char callDone = 0;
    const bool blocking = type == Qt::BlockingQueuedConnection;
    const bool invoked
        = real(object, new CTsanSlotObject(slot, blocking ? &callDone : nullptr), type, ret);
    if (blocking)
        __tsan_acquire(const_cast<char*>(&callDone));
    return invoked;
}

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = qtCore<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    real(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = qtCore<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = real(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto real = qtCore<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    real(this);
}

bool QWaitCondition::wait(QMutex* lockedMutex, QDeadlineTimer deadline)
{
    static const auto real = qtCore<bool (*)(QWaitCondition*, QMutex*, QDeadlineTimer)>(
        "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    __tsan_release(lockedMutex);
    const bool woken = real(this, lockedMutex, deadline);
    __tsan_acquire(lockedMutex);
    return woken;
}

bool QWaitCondition::wait(QMutex* lockedMutex, unsigned long time)
{
    static const auto real = qtCore<bool (*)(QWaitCondition*, QMutex*, unsigned long)>(
        "_ZN14QWaitCondition4waitEP6QMutexm");
    __tsan_release(lockedMutex);
    const bool woken = real(this, lockedMutex, time);
    __tsan_acquire(lockedMutex);
    return woken;
}
