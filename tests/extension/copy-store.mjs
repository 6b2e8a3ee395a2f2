#!/usr/bin/env node
// copy-store.mjs SOURCE DEST: a copy of a make-pki store whose SoftHSM2 configuration names its own tokens.
import { copyStore } from './browsers.mjs';
import { resolve } from 'node:path';

copyStore(resolve(process.argv[2]), resolve(process.argv[3]));
