#pragma once
// The interactive group's part in timed sending and in a line gone quiet.

namespace quillon::serial {

class InteractiveHooks {
public:
    virtual ~InteractiveHooks() = default;
    // Before every timed send: the master's next command.
    virtual void masterLoopStep() = 0;
    // When the line has been quiet: the slave's answer.
    virtual void slaveReply() = 0;
};

} // namespace quillon::serial
