'use strict';

// Runs s3rver as its own command does, with one fix. s3rver answers a PUT once the body has
// passed its checksum, before the object's file is written out, so a HEAD straight after it
// (rclone makes one after every upload) can find the object empty. Here a PUT is answered once
// the file is on disk. s3rver comes from tests/node_modules (scripts/bootstrap installs it).

const crypto = require('crypto');
const path = require('path');
const { createRequire } = require('module');
const { Readable, Transform } = require('stream');
const { pipeline } = require('stream/promises');

const testsRequire = createRequire(path.join(__dirname, '..', 'tests', 'package.json'));
const fs = testsRequire('fs-extra');
const FilesystemStore = testsRequire('s3rver/lib/stores/filesystem');

FilesystemStore.prototype.putObject = async function putObject(object) {
  const objectPath = this.getResourcePath(object.bucket, object.key, 'object');
  await fs.mkdirp(path.dirname(objectPath));
  const md5Context = crypto.createHash('md5');
  let size = 0;
  const content = Buffer.isBuffer(object.content) ? Readable.from([object.content]) : object.content;
  await pipeline(
    content,
    new Transform({
      transform(chunk, encoding, callback) {
        md5Context.update(chunk, encoding);
        size += chunk.length;
        callback(null, chunk);
      },
    }),
    fs.createWriteStream(objectPath),
  );
  const md5 = md5Context.digest('hex');
  await this.putMetadata(object.bucket, object.key, object.metadata, md5);
  return { size, md5 };
};

testsRequire('s3rver/bin/s3rver.js');
