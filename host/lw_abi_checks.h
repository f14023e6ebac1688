/* The host's published record layouts, checked at compile time: every record
 * size, and the offset of every member, in every build. A failure here means
 * the module would call the host through the wrong slot. */
#ifndef JUXS_HOST_LW_ABI_CHECKS_H
#define JUXS_HOST_LW_ABI_CHECKS_H

#include <stddef.h>

#include "lw_filereq.h"
#include "lw_image.h"
#include "lw_io.h"
#include "lw_module.h"
#include "lw_nodes.h"
#include "lw_scene.h"
#include "lw_types.h"
#include "lw_vparm.h"
#include "lw_xpanel.h"

#ifdef __cplusplus
#define JUXS_ABI_ASSERT(cond, what) static_assert(cond, what)
#else
#define JUXS_ABI_ASSERT(cond, what) _Static_assert(cond, what)
#endif
#define JUXS_SIZE(T, n) JUXS_ABI_ASSERT(sizeof(T) == (n), "size of " #T)
#define JUXS_AT(T, m, n) JUXS_ABI_ASSERT(offsetof(T, m) == (n), "offset of " #T "." #m)

/* Pointers and the 4-byte types every record is built from. */
JUXS_ABI_ASSERT(sizeof(void *) == 8, "a 64-bit target");
JUXS_ABI_ASSERT(sizeof(void (*)(void)) == 8, "8-byte function pointers");
JUXS_SIZE(ConnectionType, 4);
JUXS_SIZE(LWFrame, 4);
JUXS_SIZE(LWTime, 8);
JUXS_SIZE(LWID, 4);
JUXS_SIZE(LWXPanelHint, 8);

/* Module and servers. */
JUXS_SIZE(ModuleDescriptor, 40);
JUXS_AT(ModuleDescriptor, sysSync, 0);
JUXS_AT(ModuleDescriptor, sysVersion, 4);
JUXS_AT(ModuleDescriptor, sysMachine, 8);
JUXS_AT(ModuleDescriptor, startup, 16);
JUXS_AT(ModuleDescriptor, shutdown, 24);
JUXS_AT(ModuleDescriptor, serverDefs, 32);
JUXS_SIZE(ServerRecord, 32);
JUXS_AT(ServerRecord, className, 0);
JUXS_AT(ServerRecord, name, 8);
JUXS_AT(ServerRecord, activate, 16);
JUXS_AT(ServerRecord, tagInfo, 24);
JUXS_SIZE(ServerTagInfo, 16);
JUXS_AT(ServerTagInfo, string, 0);
JUXS_AT(ServerTagInfo, tag, 8);
JUXS_SIZE(LWInterface, 32);
JUXS_AT(LWInterface, inst, 0);
JUXS_AT(LWInterface, panel, 8);
JUXS_AT(LWInterface, options, 16);
JUXS_AT(LWInterface, command, 24);

/* Node handler. */
JUXS_SIZE(LWNodeHandler, 48);
JUXS_AT(LWNodeHandler, inst, 0);
JUXS_AT(LWNodeHandler, item, 8);
JUXS_AT(LWNodeHandler, rend, 16);
JUXS_AT(LWNodeHandler, evaluate, 24);
JUXS_AT(LWNodeHandler, customPreview, 32);
JUXS_AT(LWNodeHandler, flags, 40);
JUXS_SIZE(LWInstanceFuncs, 56);
JUXS_AT(LWInstanceFuncs, priv, 0);
JUXS_AT(LWInstanceFuncs, create, 8);
JUXS_AT(LWInstanceFuncs, destroy, 16);
JUXS_AT(LWInstanceFuncs, copy, 24);
JUXS_AT(LWInstanceFuncs, load, 32);
JUXS_AT(LWInstanceFuncs, save, 40);
JUXS_AT(LWInstanceFuncs, descln, 48);
JUXS_SIZE(LWItemFuncs, 24);
JUXS_AT(LWItemFuncs, useItems, 0);
JUXS_AT(LWItemFuncs, changeID, 8);
JUXS_AT(LWItemFuncs, changeName, 16);
JUXS_SIZE(LWNameChangeData, 24);
JUXS_AT(LWNameChangeData, oldName, 0);
JUXS_AT(LWNameChangeData, newName, 8);
JUXS_AT(LWNameChangeData, id, 16);
JUXS_SIZE(LWRenderFuncs, 24);
JUXS_AT(LWRenderFuncs, init, 0);
JUXS_AT(LWRenderFuncs, cleanup, 8);
JUXS_AT(LWRenderFuncs, newTime, 16);

/* Node services. */
JUXS_SIZE(LWNodeFuncs, 56);
JUXS_AT(LWNodeFuncs, nodeName, 0);
JUXS_AT(LWNodeFuncs, serverUserName, 8);
JUXS_AT(LWNodeFuncs, chanGrp, 16);
JUXS_AT(LWNodeFuncs, setNodeColor, 24);
JUXS_AT(LWNodeFuncs, setNodeColor3, 32);
JUXS_AT(LWNodeFuncs, setNodePreviewType, 40);
JUXS_AT(LWNodeFuncs, updateNodePreview, 48);
JUXS_SIZE(LWNodeInputFuncs, 96);
JUXS_AT(LWNodeInputFuncs, create, 0);
JUXS_AT(LWNodeInputFuncs, destroy, 8);
JUXS_AT(LWNodeInputFuncs, evaluate, 16);
JUXS_AT(LWNodeInputFuncs, check, 24);
JUXS_AT(LWNodeInputFuncs, first, 32);
JUXS_AT(LWNodeInputFuncs, next, 40);
JUXS_AT(LWNodeInputFuncs, previous, 48);
JUXS_AT(LWNodeInputFuncs, numInputs, 56);
JUXS_AT(LWNodeInputFuncs, byIndex, 64);
JUXS_AT(LWNodeInputFuncs, getIndex, 72);
JUXS_AT(LWNodeInputFuncs, disconnect, 80);
JUXS_AT(LWNodeInputFuncs, node, 88);
JUXS_SIZE(LWNodeOutputFuncs, 96);
JUXS_AT(LWNodeOutputFuncs, create, 0);
JUXS_AT(LWNodeOutputFuncs, destroy, 8);
JUXS_AT(LWNodeOutputFuncs, setValue, 16);
JUXS_AT(LWNodeOutputFuncs, getValue, 24);
JUXS_AT(LWNodeOutputFuncs, getType, 32);
JUXS_AT(LWNodeOutputFuncs, first, 40);
JUXS_AT(LWNodeOutputFuncs, next, 48);
JUXS_AT(LWNodeOutputFuncs, previous, 56);
JUXS_AT(LWNodeOutputFuncs, numOutputs, 64);
JUXS_AT(LWNodeOutputFuncs, byIndex, 72);
JUXS_AT(LWNodeOutputFuncs, getIndex, 80);
JUXS_AT(LWNodeOutputFuncs, node, 88);
JUXS_SIZE(LWNodeEditorFuncs, 192);
JUXS_AT(LWNodeEditorFuncs, create, 0);
JUXS_AT(LWNodeEditorFuncs, addInput, 80);
JUXS_AT(LWNodeEditorFuncs, getState, 144);
JUXS_AT(LWNodeEditorFuncs, connect, 184);
JUXS_SIZE(LWNodeUtilityFuncs, 80);
JUXS_AT(LWNodeUtilityFuncs, blend, 0);
JUXS_AT(LWNodeUtilityFuncs, nodeAutosize, 8);
JUXS_AT(LWNodeUtilityFuncs, planarMapping, 16);
JUXS_AT(LWNodeUtilityFuncs, sphericalMapping, 24);
JUXS_AT(LWNodeUtilityFuncs, cylindricalMapping, 32);
JUXS_AT(LWNodeUtilityFuncs, cubicMapping, 40);
JUXS_AT(LWNodeUtilityFuncs, frontMapping, 48);
JUXS_AT(LWNodeUtilityFuncs, reflectionMapping, 56);
JUXS_AT(LWNodeUtilityFuncs, uvMapping, 64);
JUXS_AT(LWNodeUtilityFuncs, buildCameraMatrix, 72);

/* Shading context. */
JUXS_SIZE(LWNodalAccess, 656);
JUXS_AT(LWNodalAccess, sx, 0);
JUXS_AT(LWNodalAccess, sy, 4);
JUXS_AT(LWNodalAccess, oPos, 8);
JUXS_AT(LWNodalAccess, wPos, 32);
JUXS_AT(LWNodalAccess, gNorm, 56);
JUXS_AT(LWNodalAccess, wNorm, 80);
JUXS_AT(LWNodalAccess, wNorm0, 104);
JUXS_AT(LWNodalAccess, raySource, 128);
JUXS_AT(LWNodalAccess, rayLength, 152);
JUXS_AT(LWNodalAccess, spotSize, 160);
JUXS_AT(LWNodalAccess, cosine, 168);
JUXS_AT(LWNodalAccess, bumpHeight, 176);
JUXS_AT(LWNodalAccess, oXfrm, 184);
JUXS_AT(LWNodalAccess, wXfrm, 256);
JUXS_AT(LWNodalAccess, illuminate, 328);
JUXS_AT(LWNodalAccess, illuminateSample, 336);
JUXS_AT(LWNodalAccess, rayTrace, 344);
JUXS_AT(LWNodalAccess, rayCast, 352);
JUXS_AT(LWNodalAccess, rayShade, 360);
JUXS_AT(LWNodalAccess, rayTraceMode, 368);
JUXS_AT(LWNodalAccess, bounces, 376);
JUXS_AT(LWNodalAccess, sourceID, 384);
JUXS_AT(LWNodalAccess, objID, 392);
JUXS_AT(LWNodalAccess, polNum, 400);
JUXS_AT(LWNodalAccess, verts, 408);
JUXS_AT(LWNodalAccess, weights, 440);
JUXS_AT(LWNodalAccess, vertsWPos, 456);
JUXS_AT(LWNodalAccess, polygon, 504);
JUXS_AT(LWNodalAccess, incomingEta, 512);
JUXS_AT(LWNodalAccess, threadNum, 520);
JUXS_AT(LWNodalAccess, flags, 524);
JUXS_AT(LWNodalAccess, randomData, 528);
JUXS_AT(LWNodalAccess, randomFloat, 536);
JUXS_AT(LWNodalAccess, illuminateNormal, 544);
JUXS_AT(LWNodalAccess, illuminateSampleNormal, 552);
JUXS_AT(LWNodalAccess, subsx, 560);
JUXS_AT(LWNodalAccess, subsy, 568);
JUXS_AT(LWNodalAccess, rayDir, 576);
JUXS_AT(LWNodalAccess, rayTraceData, 600);
JUXS_AT(LWNodalAccess, rayTraceShade, 608);
JUXS_AT(LWNodalAccess, render, 616);
JUXS_AT(LWNodalAccess, getVal, 624);
JUXS_AT(LWNodalAccess, setVal, 632);
JUXS_AT(LWNodalAccess, outsiz, 640);
JUXS_AT(LWNodalAccess, vertexIndexes, 648);

/* Ray-shade record. */
JUXS_SIZE(LWShaderAccess, 912);
JUXS_AT(LWShaderAccess, sx, 0);
JUXS_AT(LWShaderAccess, sy, 4);
JUXS_AT(LWShaderAccess, oPos, 8);
JUXS_AT(LWShaderAccess, wPos, 32);
JUXS_AT(LWShaderAccess, gNorm, 56);
JUXS_AT(LWShaderAccess, spotSize, 80);
JUXS_AT(LWShaderAccess, raySource, 88);
JUXS_AT(LWShaderAccess, rayLength, 112);
JUXS_AT(LWShaderAccess, cosine, 120);
JUXS_AT(LWShaderAccess, oXfrm, 128);
JUXS_AT(LWShaderAccess, wXfrm, 200);
JUXS_AT(LWShaderAccess, objID, 272);
JUXS_AT(LWShaderAccess, polNum, 280);
JUXS_AT(LWShaderAccess, wNorm, 288);
JUXS_AT(LWShaderAccess, color, 312);
JUXS_AT(LWShaderAccess, luminous, 336);
JUXS_AT(LWShaderAccess, diffuse, 344);
JUXS_AT(LWShaderAccess, specular, 352);
JUXS_AT(LWShaderAccess, mirror, 360);
JUXS_AT(LWShaderAccess, transparency, 368);
JUXS_AT(LWShaderAccess, eta, 376);
JUXS_AT(LWShaderAccess, roughness, 384);
JUXS_AT(LWShaderAccess, illuminate, 392);
JUXS_AT(LWShaderAccess, rayTrace, 400);
JUXS_AT(LWShaderAccess, rayCast, 408);
JUXS_AT(LWShaderAccess, rayShade, 416);
JUXS_AT(LWShaderAccess, flags, 424);
JUXS_AT(LWShaderAccess, bounces, 428);
JUXS_AT(LWShaderAccess, sourceID, 432);
JUXS_AT(LWShaderAccess, wNorm0, 440);
JUXS_AT(LWShaderAccess, bumpHeight, 464);
JUXS_AT(LWShaderAccess, translucency, 472);
JUXS_AT(LWShaderAccess, colorHL, 480);
JUXS_AT(LWShaderAccess, colorFL, 488);
JUXS_AT(LWShaderAccess, addTransparency, 496);
JUXS_AT(LWShaderAccess, difSharpness, 504);
JUXS_AT(LWShaderAccess, verts, 512);
JUXS_AT(LWShaderAccess, weights, 544);
JUXS_AT(LWShaderAccess, vertsWPos, 560);
JUXS_AT(LWShaderAccess, polygon, 608);
JUXS_AT(LWShaderAccess, replacementPercentage, 616);
JUXS_AT(LWShaderAccess, replacementColor, 624);
JUXS_AT(LWShaderAccess, reflectionBlur, 648);
JUXS_AT(LWShaderAccess, refractionBlur, 656);
JUXS_AT(LWShaderAccess, rayTraceMode, 664);
JUXS_AT(LWShaderAccess, incomingEta, 672);
JUXS_AT(LWShaderAccess, threadNum, 680);
JUXS_AT(LWShaderAccess, diffuseShade, 688);
JUXS_AT(LWShaderAccess, specularShade, 712);
JUXS_AT(LWShaderAccess, refractShade, 736);
JUXS_AT(LWShaderAccess, reflectShade, 760);
JUXS_AT(LWShaderAccess, illuminateSample, 784);
JUXS_AT(LWShaderAccess, randomData, 792);
JUXS_AT(LWShaderAccess, randomFloat, 800);
JUXS_AT(LWShaderAccess, illuminateNormal, 808);
JUXS_AT(LWShaderAccess, illuminateSampleNormal, 816);
JUXS_AT(LWShaderAccess, subsx, 824);
JUXS_AT(LWShaderAccess, subsy, 832);
JUXS_AT(LWShaderAccess, bumpDropoff, 840);
JUXS_AT(LWShaderAccess, rayDir, 848);
JUXS_AT(LWShaderAccess, rayTraceData, 872);
JUXS_AT(LWShaderAccess, rayTraceShade, 880);
JUXS_AT(LWShaderAccess, render, 888);
JUXS_AT(LWShaderAccess, getVal, 896);
JUXS_AT(LWShaderAccess, setVal, 904);

/* Variant parameters, envelopes, channels. */
JUXS_SIZE(LWVParmFuncs, 120);
JUXS_AT(LWVParmFuncs, create, 0);
JUXS_AT(LWVParmFuncs, destroy, 8);
JUXS_AT(LWVParmFuncs, setup, 16);
JUXS_AT(LWVParmFuncs, copy, 24);
JUXS_AT(LWVParmFuncs, load, 32);
JUXS_AT(LWVParmFuncs, save, 40);
JUXS_AT(LWVParmFuncs, getVal, 48);
JUXS_AT(LWVParmFuncs, setVal, 56);
JUXS_AT(LWVParmFuncs, getState, 64);
JUXS_AT(LWVParmFuncs, setState, 72);
JUXS_AT(LWVParmFuncs, editEnv, 80);
JUXS_AT(LWVParmFuncs, editTex, 88);
JUXS_AT(LWVParmFuncs, initMP, 96);
JUXS_AT(LWVParmFuncs, getEnv, 104);
JUXS_AT(LWVParmFuncs, getTex, 112);
JUXS_SIZE(LWEnvelopeFuncs, 160);
JUXS_AT(LWEnvelopeFuncs, create, 0);
JUXS_AT(LWEnvelopeFuncs, destroy, 8);
JUXS_AT(LWEnvelopeFuncs, createGroup, 16);
JUXS_AT(LWEnvelopeFuncs, destroyGroup, 24);
JUXS_AT(LWEnvelopeFuncs, copy, 32);
JUXS_AT(LWEnvelopeFuncs, load, 40);
JUXS_AT(LWEnvelopeFuncs, save, 48);
JUXS_AT(LWEnvelopeFuncs, evaluate, 56);
JUXS_AT(LWEnvelopeFuncs, edit, 64);
JUXS_AT(LWEnvelopeFuncs, envAge, 72);
JUXS_AT(LWEnvelopeFuncs, createKey, 80);
JUXS_AT(LWEnvelopeFuncs, destroyKey, 88);
JUXS_AT(LWEnvelopeFuncs, findKey, 96);
JUXS_AT(LWEnvelopeFuncs, nextKey, 104);
JUXS_AT(LWEnvelopeFuncs, prevKey, 112);
JUXS_AT(LWEnvelopeFuncs, keySet, 120);
JUXS_AT(LWEnvelopeFuncs, keyGet, 128);
JUXS_AT(LWEnvelopeFuncs, setEnvEvent, 136);
JUXS_AT(LWEnvelopeFuncs, egSet, 144);
JUXS_AT(LWEnvelopeFuncs, egGet, 152);
JUXS_SIZE(LWChannelInfo, 120);
JUXS_AT(LWChannelInfo, nextGroup, 0);
JUXS_AT(LWChannelInfo, nextChannel, 8);
JUXS_AT(LWChannelInfo, groupName, 16);
JUXS_AT(LWChannelInfo, channelName, 24);
JUXS_AT(LWChannelInfo, groupParent, 32);
JUXS_AT(LWChannelInfo, channelParent, 40);
JUXS_AT(LWChannelInfo, channelType, 48);
JUXS_AT(LWChannelInfo, channelEvaluate, 56);
JUXS_AT(LWChannelInfo, channelEnvelope, 64);
JUXS_AT(LWChannelInfo, setChannelEvent, 72);
JUXS_AT(LWChannelInfo, server, 80);
JUXS_AT(LWChannelInfo, serverFlags, 88);
JUXS_AT(LWChannelInfo, serverInstance, 96);
JUXS_AT(LWChannelInfo, serverApply, 104);
JUXS_AT(LWChannelInfo, serverRemove, 112);

/* Streams. */
JUXS_SIZE(LWBlockIdent, 16);
JUXS_AT(LWBlockIdent, id, 0);
JUXS_AT(LWBlockIdent, token, 8);
JUXS_SIZE(LWLoadState, 128);
JUXS_AT(LWLoadState, ioMode, 0);
JUXS_AT(LWLoadState, readData, 8);
JUXS_AT(LWLoadState, read, 16);
JUXS_AT(LWLoadState, readI1, 24);
JUXS_AT(LWLoadState, readI2, 32);
JUXS_AT(LWLoadState, readI4, 40);
JUXS_AT(LWLoadState, readU1, 48);
JUXS_AT(LWLoadState, readU2, 56);
JUXS_AT(LWLoadState, readU4, 64);
JUXS_AT(LWLoadState, readFP, 72);
JUXS_AT(LWLoadState, readStr, 80);
JUXS_AT(LWLoadState, readID, 88);
JUXS_AT(LWLoadState, findBlk, 96);
JUXS_AT(LWLoadState, endBlk, 104);
JUXS_AT(LWLoadState, depth, 112);
JUXS_AT(LWLoadState, readDP, 120);
JUXS_SIZE(LWSaveState, 128);
JUXS_AT(LWSaveState, ioMode, 0);
JUXS_AT(LWSaveState, writeData, 8);
JUXS_AT(LWSaveState, write, 16);
JUXS_AT(LWSaveState, writeI1, 24);
JUXS_AT(LWSaveState, writeI2, 32);
JUXS_AT(LWSaveState, writeI4, 40);
JUXS_AT(LWSaveState, writeU1, 48);
JUXS_AT(LWSaveState, writeU2, 56);
JUXS_AT(LWSaveState, writeU4, 64);
JUXS_AT(LWSaveState, writeFP, 72);
JUXS_AT(LWSaveState, writeStr, 80);
JUXS_AT(LWSaveState, writeID, 88);
JUXS_AT(LWSaveState, beginBlk, 96);
JUXS_AT(LWSaveState, endBlk, 104);
JUXS_AT(LWSaveState, depth, 112);
JUXS_AT(LWSaveState, writeDP, 120);

/* Panels. */
JUXS_SIZE(LWXPanelFuncs, 112);
JUXS_AT(LWXPanelFuncs, version, 0);
JUXS_AT(LWXPanelFuncs, drawf, 8);
JUXS_AT(LWXPanelFuncs, create, 16);
JUXS_AT(LWXPanelFuncs, destroy, 24);
JUXS_AT(LWXPanelFuncs, describe, 32);
JUXS_AT(LWXPanelFuncs, hint, 40);
JUXS_AT(LWXPanelFuncs, getData, 48);
JUXS_AT(LWXPanelFuncs, setData, 56);
JUXS_AT(LWXPanelFuncs, formGet, 64);
JUXS_AT(LWXPanelFuncs, formSet, 72);
JUXS_AT(LWXPanelFuncs, viewInst, 80);
JUXS_AT(LWXPanelFuncs, viewRefresh, 88);
JUXS_AT(LWXPanelFuncs, post, 96);
JUXS_AT(LWXPanelFuncs, open, 104);
JUXS_SIZE(LWXPanelControl, 24);
JUXS_AT(LWXPanelControl, cid, 0);
JUXS_AT(LWXPanelControl, label, 8);
JUXS_AT(LWXPanelControl, ctrlclass, 16);
JUXS_SIZE(LWXPanelDataDesc, 24);
JUXS_AT(LWXPanelDataDesc, vid, 0);
JUXS_AT(LWXPanelDataDesc, name, 8);
JUXS_AT(LWXPanelDataDesc, datatype, 16);
JUXS_SIZE(LWXPDrawFuncs, 72);
JUXS_AT(LWXPDrawFuncs, drawPixel, 0);
JUXS_AT(LWXPDrawFuncs, drawRGBPixel, 8);
JUXS_AT(LWXPDrawFuncs, drawLine, 16);
JUXS_AT(LWXPDrawFuncs, drawBox, 24);
JUXS_AT(LWXPDrawFuncs, drawRGBBox, 32);
JUXS_AT(LWXPDrawFuncs, drawBorder, 40);
JUXS_AT(LWXPDrawFuncs, textWidth, 48);
JUXS_AT(LWXPDrawFuncs, textHeight, 56);
JUXS_AT(LWXPDrawFuncs, drawText, 64);

/* Scene, time, backdrop, images, file requester. */
JUXS_SIZE(LWTimeInfo, 16);
JUXS_AT(LWTimeInfo, time, 0);
JUXS_AT(LWTimeInfo, frame, 8);
JUXS_SIZE(LWBackdropInfo, 32);
JUXS_AT(LWBackdropInfo, backdrop, 0);
JUXS_AT(LWBackdropInfo, type, 8);
JUXS_AT(LWBackdropInfo, color, 16);
JUXS_AT(LWBackdropInfo, squeeze, 24);
JUXS_SIZE(LWSceneInfo, 344);
JUXS_AT(LWSceneInfo, name, 0);
JUXS_AT(LWSceneInfo, filename, 8);
JUXS_AT(LWSceneInfo, numPoints, 16);
JUXS_AT(LWSceneInfo, numPolygons, 20);
JUXS_AT(LWSceneInfo, renderType, 24);
JUXS_AT(LWSceneInfo, renderOpts, 28);
JUXS_AT(LWSceneInfo, frameStart, 32);
JUXS_AT(LWSceneInfo, frameEnd, 36);
JUXS_AT(LWSceneInfo, frameStep, 40);
JUXS_AT(LWSceneInfo, framesPerSecond, 48);
JUXS_AT(LWSceneInfo, frameWidth, 56);
JUXS_AT(LWSceneInfo, frameHeight, 60);
JUXS_AT(LWSceneInfo, pixelAspect, 64);
JUXS_AT(LWSceneInfo, minSamplesPerPixel, 72);
JUXS_AT(LWSceneInfo, maxSamplesPerPixel, 76);
JUXS_AT(LWSceneInfo, limitedRegion, 80);
JUXS_AT(LWSceneInfo, recursionDepth, 96);
JUXS_AT(LWSceneInfo, renderCamera, 104);
JUXS_AT(LWSceneInfo, numThreads, 112);
JUXS_AT(LWSceneInfo, animFilename, 120);
JUXS_AT(LWSceneInfo, RGBPrefix, 128);
JUXS_AT(LWSceneInfo, alphaPrefix, 136);
JUXS_AT(LWSceneInfo, antialiasing, 144);
JUXS_AT(LWSceneInfo, adaptiveThreshold, 156);
JUXS_AT(LWSceneInfo, radiosityRaysPerEvaluation2, 184);
JUXS_AT(LWSceneInfo, radiosityIntensity, 192);
JUXS_AT(LWSceneInfo, radiosityFileName, 232);
JUXS_AT(LWSceneInfo, causticsIntensity, 240);
JUXS_AT(LWSceneInfo, radiosityFlags, 256);
JUXS_AT(LWSceneInfo, dynamicsRangeMin, 264);
JUXS_AT(LWSceneInfo, pixelFilterForceMT, 288);
JUXS_AT(LWSceneInfo, useZminmax, 296);
JUXS_AT(LWSceneInfo, zmin, 304);
JUXS_AT(LWSceneInfo, rendermode, 320);
JUXS_AT(LWSceneInfo, enableLenseFlares, 328);
JUXS_AT(LWSceneInfo, lenseFlareIntensity, 336);
JUXS_SIZE(LWImageList, 200);
JUXS_AT(LWImageList, first, 0);
JUXS_AT(LWImageList, next, 8);
JUXS_AT(LWImageList, load, 16);
JUXS_AT(LWImageList, name, 24);
JUXS_AT(LWImageList, filename, 32);
JUXS_AT(LWImageList, isColor, 40);
JUXS_AT(LWImageList, needAA, 48);
JUXS_AT(LWImageList, size, 56);
JUXS_AT(LWImageList, luma, 64);
JUXS_AT(LWImageList, RGB, 72);
JUXS_AT(LWImageList, lumaSpot, 80);
JUXS_AT(LWImageList, RGBSpot, 88);
JUXS_AT(LWImageList, clear, 96);
JUXS_AT(LWImageList, sceneLoad, 104);
JUXS_AT(LWImageList, sceneSave, 112);
JUXS_AT(LWImageList, hasAlpha, 120);
JUXS_AT(LWImageList, alpha, 128);
JUXS_AT(LWImageList, alphaSpot, 136);
JUXS_AT(LWImageList, evaluate, 144);
JUXS_AT(LWImageList, changeEvent, 152);
JUXS_AT(LWImageList, replace, 160);
JUXS_AT(LWImageList, create, 168);
JUXS_AT(LWImageList, saverNotifyAttach, 176);
JUXS_AT(LWImageList, saverNotifyDetach, 184);
JUXS_AT(LWImageList, saverNotifyMarkUsage, 192);
JUXS_SIZE(LWFileReqLocal, 64);
JUXS_AT(LWFileReqLocal, reqType, 0);
JUXS_AT(LWFileReqLocal, result, 4);
JUXS_AT(LWFileReqLocal, title, 8);
JUXS_AT(LWFileReqLocal, fileType, 16);
JUXS_AT(LWFileReqLocal, path, 24);
JUXS_AT(LWFileReqLocal, baseName, 32);
JUXS_AT(LWFileReqLocal, fullName, 40);
JUXS_AT(LWFileReqLocal, bufLen, 48);
JUXS_AT(LWFileReqLocal, pickName, 56);

#undef JUXS_AT
#undef JUXS_SIZE
#undef JUXS_ABI_ASSERT

#endif
