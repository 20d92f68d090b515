// standin/: the stand-in Layout host, and nothing but the host.
//
// The stand-in Layout host, all of it: a headless host that holds a scene,
// offers the animation, message and panel services over it, shows panels to a
// scripted user and loads plug-in modules through their descriptor.
#pragma once

#include "standin/contract.h"
#include "standin/host.h"
#include "standin/loader.h"
#include "standin/panels.h"
#include "standin/scene.h"
#include "standin/text.h"
