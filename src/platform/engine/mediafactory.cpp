#include "platform/engine/mediafactory.h"

#include "platform/engine/gstmediacontrol.h"

MediaControl *CreateMediaControl(QWidget *parent) {
    return new GstMediaControl(parent, GstMediaOptions{});
}
