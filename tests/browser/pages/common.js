// Shared by the viewer pages: every WebGL canvas keeps its drawing buffer
// (so a rendered view can be read back), and the comparison of a cube map
// against its source panorama, view by view, in the same viewer.
const getContext = HTMLCanvasElement.prototype.getContext;
HTMLCanvasElement.prototype.getContext = function (type, attributes) {
  if (type === 'webgl' || type === 'webgl2' || type === 'experimental-webgl') {
    attributes = { ...(attributes || {}), preserveDrawingBuffer: true };
  }
  return getContext.call(this, type, attributes);
};

export const SIZE = 160;

export function nextFrame() {
  return new Promise((resolve) => requestAnimationFrame(() => resolve()));
}

export async function frames(n) {
  for (let i = 0; i < n; ++i) await nextFrame();
}

// The RGB pixels a WebGL canvas shows now.
export function grab(canvas) {
  const copy = document.createElement('canvas');
  copy.width = SIZE;
  copy.height = SIZE;
  const context = copy.getContext('2d');
  context.drawImage(canvas, 0, 0, SIZE, SIZE);
  return context.getImageData(0, 0, SIZE, SIZE).data;
}

export function meanAbsDiff(a, b) {
  let sum = 0;
  let count = 0;
  for (let i = 0; i < a.length; i += 4) {
    sum += Math.abs(a[i] - b[i]) + Math.abs(a[i + 1] - b[i + 1]) + Math.abs(a[i + 2] - b[i + 2]);
    count += 3;
  }
  return sum / count;
}

export function loadImage(url) {
  return new Promise((resolve, reject) => {
    const image = new Image();
    image.onload = () => resolve(image);
    image.onerror = () => reject(new Error('cannot load ' + url));
    image.src = url;
  });
}

// A copy of the image at url mirrored left to right, as a data URL.
export async function mirrored(url) {
  const image = await loadImage(url);
  const canvas = document.createElement('canvas');
  canvas.width = image.width;
  canvas.height = image.height;
  const context = canvas.getContext('2d');
  context.translate(image.width, 0);
  context.scale(-1, 1);
  context.drawImage(image, 0, 0);
  return canvas.toDataURL('image/png');
}

// The face lists to try: as written, two faces exchanged, one mirrored.
export async function variants(faces) {
  const swapped = faces.slice();
  [swapped[0], swapped[1]] = [swapped[1], swapped[0]];
  const mirror = faces.slice();
  mirror[1] = await mirrored(faces[1]);
  return { faces, swapped, mirrored: mirror };
}

// viewer.open(source) → view with shoot(yaw, pitch) and close(); source is
// { pano: url } or { cube: [six urls] }. Returns, per direction, the mean
// absolute difference of each variant's view from the panorama's.
export async function compare(viewer, job) {
  const panoView = await viewer.open({ pano: job.pano });
  const reference = [];
  for (const [yaw, pitch] of job.directions) reference.push(await panoView.shoot(yaw, pitch));
  await panoView.close();
  const result = {};
  const lists = await variants(job.faces);
  for (const [name, faces] of Object.entries(lists)) {
    const view = await viewer.open({ cube: faces });
    result[name] = [];
    for (let i = 0; i < job.directions.length; ++i) {
      const [yaw, pitch] = job.directions[i];
      result[name].push(meanAbsDiff(reference[i], await view.shoot(yaw, pitch)));
    }
    await view.close();
  }
  return result;
}
