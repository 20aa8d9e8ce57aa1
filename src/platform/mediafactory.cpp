#include "platform/mediafactory.h"

#include "platform/gstmediacontrol.h"

MediaControl *CreateMediaControl(QWidget *parent) {
    return new GstMediaControl(parent, GstMediaOptions{});
}
